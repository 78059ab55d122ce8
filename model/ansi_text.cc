// ansi_text.cc: sized ANSI <-> UTF-16 conversions for the record's fields.
//
// The platform converts; this file only sizes each result with a first call
// and refuses what would not fit, so nothing is ever cut short silently.
#include "model/ansi_text.h"

#include <string.h>

#include "platform/winapi.h"

namespace mms::model {

bool WideToAnsi(const wchar_t* text, char* out, size_t out_bytes) {
  if (text == nullptr || out == nullptr || out_bytes == 0) {
    return false;
  }
  int needed =
      WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || static_cast<size_t>(needed) > out_bytes) {
    return false;
  }
  char work[MAX_PATH];
  char* target = out_bytes <= sizeof(work) ? work : out;
  int written = WideCharToMultiByte(CP_ACP, 0, text, -1, target, needed,
                                    nullptr, nullptr);
  if (written != needed) {
    return false;
  }
  if (target != out) {
    memcpy(out, work, static_cast<size_t>(needed));
  }
  return true;
}

bool AnsiToWide(const char* text, size_t bytes, wchar_t* out,
                size_t out_chars) {
  if (text == nullptr || out == nullptr || out_chars == 0) {
    return false;
  }
  if (bytes == 0) {
    out[0] = L'\0';
    return true;
  }
  if (bytes > 0x7FFFFFFFu) {
    return false;
  }
  int length = static_cast<int>(bytes);
  int needed = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  // `needed` counts no terminator because the length is explicit.
  if (needed <= 0 || static_cast<size_t>(needed) >= out_chars) {
    return false;
  }
  wchar_t work[MAX_PATH];
  wchar_t* target = out_chars <= MAX_PATH ? work : out;
  int written = MultiByteToWideChar(CP_ACP, 0, text, length, target, needed);
  if (written != needed) {
    return false;
  }
  if (target != out) {
    memcpy(out, work, static_cast<size_t>(needed) * sizeof(wchar_t));
  }
  out[needed] = L'\0';
  return true;
}

size_t FieldLength(const char* field, size_t field_bytes) {
  return strnlen(field, field_bytes);
}

}  // namespace mms::model
