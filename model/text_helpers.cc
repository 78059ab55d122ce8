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

// Index just past the last `mark` of a path of at most 259 characters, or
// -1 when the path holds none. The text after it is what the phone's
// reverse-and-scan produced.
long AfterLast(const wchar_t* path, size_t length, wchar_t mark) {
  for (size_t i = length; i > 0; --i) {
    if (path[i - 1] == mark) {
      return static_cast<long>(i);
    }
  }
  return -1;
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
  if (path == nullptr || extension == nullptr) {
    return 0;
  }
  size_t length = wcsnlen(path, MAX_PATH);
  if (length >= MAX_PATH) {
    return 0;  // longer than the work buffer: refused, output untouched
  }
  // The last "." anywhere, even inside a folder name: "\dir.d\file" gives
  // "d\file", as the phone did.
  long start = AfterLast(path, length, L'.');
  if (start < 0) {
    return 1;  // no extension: the caller's zeroed buffer stays as it was
  }
  size_t count = length - static_cast<size_t>(start);
  wmemmove(extension, path + start, count);
  extension[count] = L'\0';
  return 1;
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
  if (path == nullptr || name == nullptr) {
    return 0;
  }
  size_t length = wcsnlen(path, MAX_PATH);
  if (length >= MAX_PATH) {
    return 0;  // longer than the work buffer: refused, output untouched
  }
  long start = AfterLast(path, length, L'\\');
  size_t from = start < 0 ? 0 : static_cast<size_t>(start);
  size_t count = length - from;
  wmemmove(name, path + from, count);
  name[count] = L'\0';
  return 1;
}
