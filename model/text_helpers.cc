// text_helpers.cc: the shared text and path helpers of mms.h: UTF-8 in both
// directions, the phone-number character test, and a path's extension and
// file name.
//
// None keeps state. The path helpers work in 260-character buffers and
// refuse longer input; the UTF-8 decoder is hand-written and byte-exact,
// including what it lets through (stray continuation bytes, overlong forms).
#include <string.h>
#include <wchar.h>

#include "mms.h"
#include "model/ansi_text.h"
#include "platform/winapi.h"

namespace {

// Leading one bits of a byte, counted from bit 7 down to the first zero.
int LeadingOnes(unsigned char b) {
  int count = 0;
  while (count < 8 && (b & (0x80u >> count)) != 0) {
    ++count;
  }
  return count;
}

bool IsContinuation(unsigned char b) { return (b & 0xC0u) == 0x80u; }

// Copies the text after the last `mark` of path into out, as the phone's
// reverse-and-scan did; a path holding none gives all of it when
// whole_when_none, else leaves out as it was. 0 for a null argument or a
// path that does not fit the 260-character work buffer (out untouched).
int CopyAfterLast(const wchar_t* path, wchar_t mark, bool whole_when_none,
                  wchar_t* out) {
  if (path == nullptr || out == nullptr) {
    return 0;
  }
  const size_t length = wcsnlen(path, MAX_PATH);
  if (length >= MAX_PATH) {
    return 0;
  }
  size_t from = length;
  while (from > 0 && path[from - 1] != mark) {
    --from;
  }
  if (from == 0 && !whole_when_none) {
    return 1;
  }
  const size_t count = length - from;
  wmemmove(out, path + from, count);
  out[count] = L'\0';
  return 1;
}

}  // namespace

namespace mms::model {

bool DecodeUtf8(const unsigned char* in, size_t count, wchar_t* out,
                size_t capacity) {
  const size_t limit = capacity - 1;  // room for the NUL
  size_t pos = 0;
  if (count >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF) {
    pos = 3;
  }
  size_t units = 0;
  while (pos < count) {
    if (units >= limit) {
      return false;  // the caller's buffer is smaller than its input needs
    }
    const int ones = LeadingOnes(in[pos]);
    // ASCII, or a stray continuation byte passed through as its value.
    const size_t more = ones <= 1 ? 0 : static_cast<size_t>(ones - 1);
    if (more > 2) {
      return false;  // four-byte forms lie outside the 16-bit range
    }
    uint32_t unit = more == 0 ? in[pos] : in[pos] & (more == 1 ? 0x1Fu : 0x0Fu);
    for (size_t k = 1; k <= more; ++k) {
      if (pos + k >= count || !IsContinuation(in[pos + k])) {
        return false;
      }
      unit = (unit << 6) | (in[pos + k] & 0x3Fu);
    }
    out[units++] = static_cast<wchar_t>(unit);
    pos += more + 1;
  }
  out[units] = L'\0';
  return true;
}

}  // namespace mms::model

int WideToUtf8(wchar_t* text, char* out) {
  if (text == nullptr || out == nullptr) {
    return 0;
  }
  int needed =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    out[0] = '\0';
    return 0;
  }
  int written =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, out, needed, nullptr, nullptr);
  return written == needed ? 1 : 0;
}

int Utf8ToWide(char* text, wchar_t* out, int capacity) {
  if (text == nullptr || out == nullptr || capacity < 1) {
    return 0;
  }
  // The terminating NUL is not of the form 10xxxxxx, so a sequence it cuts
  // short is refused just as one the end cuts short.
  return mms::model::DecodeUtf8(reinterpret_cast<const unsigned char*>(text),
                                strlen(text), out,
                                static_cast<size_t>(capacity))
             ? 1
             : 0;
}

int IsPhoneNumberText(wchar_t* text) {
  if (text == nullptr || text[0] == L'\0') {
    return 0;
  }
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (wcschr(L"0123456789+", *p) == nullptr) {
      return 0;
    }
  }
  return 1;
}

int GetFileExtension(wchar_t* path, wchar_t* extension) {
  // The last "." anywhere, even inside a folder name: "\dir.d\file" gives
  // "d\file", as the phone did; no "." leaves the caller's zeroed buffer.
  return CopyAfterLast(path, L'.', false, extension);
}

int GetFileExtensionA(char* path, char* extension) {
  if (path == nullptr || extension == nullptr) {
    return 0;
  }
  size_t length = strnlen(path, MAX_PATH);
  if (length >= MAX_PATH) {
    return 0;
  }
  wchar_t wide_path[MAX_PATH] = {};
  wchar_t wide_extension[MAX_PATH] = {};
  if (!mms::model::AnsiToWide(path, length, wide_path, MAX_PATH)) {
    return 0;
  }
  if (GetFileExtension(wide_path, wide_extension) == 0) {
    return 0;
  }
  return mms::model::WideToAnsi(wide_extension, extension, MAX_PATH) ? 1 : 0;
}

int GetFileNameFromPath(wchar_t* path, wchar_t* name) {
  return CopyAfterLast(path, L'\\', true, name);
}
