// codepage.cc: MultiByteToWideChar / WideCharToMultiByte over iconv.
//
// CP_ACP is code page 936 (GBK) unless MMS_ACP names another number
// (65001 is UTF-8, any other n is iconv's "CP<n>"). Conversions are strict
// in both directions: malformed input, a lone surrogate or a character the
// target code page cannot hold fails with ERROR_NO_UNICODE_TRANSLATION
// instead of being replaced. Counts follow Win32: a length of -1 converts up
// to and including the terminator, and an output size of 0 asks for the size.
#include <stdlib.h>

#include <cstdio>
#include <cstring>

#include "platform/text_convert.h"
#include "platform/winapi.h"

namespace mms::platform {
namespace {

constexpr UINT kDefaultAnsiCodePage = 936;

UINT AnsiCodePage() {
  const char* text = getenv("MMS_ACP");
  if (text == nullptr || text[0] == '\0') {
    return kDefaultAnsiCodePage;
  }
  char* end = nullptr;
  unsigned long value = strtoul(text, &end, 10);
  if (*end != '\0' || value == 0 || value > 65535) {
    return kDefaultAnsiCodePage;
  }
  return static_cast<UINT>(value);
}

// The iconv name of a code page, written into name; false when it names
// none.
bool CharsetFor(UINT code_page, char (&name)[16]) {
  if (code_page == CP_ACP) {
    code_page = AnsiCodePage();
  }
  if (code_page == CP_UTF8) {
    std::strcpy(name, "UTF-8");
  } else if (code_page == 936) {
    std::strcpy(name, "GBK");
  } else if (code_page < 37) {
    return false;  // the phone's pseudo code pages (OEM, MAC, THREAD) are
                   // unused
  } else {
    std::snprintf(name, sizeof name, "CP%u", code_page);
  }
  return true;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Converts straight into the caller's buffer (out_bytes 0: count only) and
// gives the Win32 count in units of unit bytes, or 0 with the last error.
int Convert(const char* from, const char* to, const void* in, size_t in_bytes,
            void* out, size_t out_bytes, size_t unit) {
  size_t produced = 0;
  ConvertResult result =
      ConvertInto(from, to, in, in_bytes, out_bytes == 0 ? nullptr : out,
                  out_bytes, &produced);
  switch (result) {
    case ConvertResult::kOk:
      break;
    case ConvertResult::kOutputTooSmall:
      if (out_bytes != 0) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
      break;  // a size query
    case ConvertResult::kUnknownCharset:
      return Fail(ERROR_INVALID_PARAMETER);
    case ConvertResult::kInvalidInput:
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  if (produced / unit > static_cast<size_t>(INT32_MAX)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  return static_cast<int>(produced / unit);
}

}  // namespace
}  // namespace mms::platform

int MultiByteToWideChar(UINT code_page, DWORD /*flags*/, const char* text,
                        int text_bytes, wchar_t* out, int out_chars) {
  using namespace mms::platform;
  if (text == nullptr || text_bytes == 0 || text_bytes < -1 || out_chars < 0 ||
      (out == nullptr && out_chars > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  char charset[16];
  if (!CharsetFor(code_page, charset)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  size_t in_bytes = text_bytes == -1 ? std::strlen(text) + 1
                                     : static_cast<size_t>(text_bytes);
  return Convert(charset, kWideCharset, text, in_bytes, out,
                 static_cast<size_t>(out_chars) * sizeof(wchar_t),
                 sizeof(wchar_t));
}

int WideCharToMultiByte(UINT code_page, DWORD /*flags*/, const wchar_t* text,
                        int text_chars, char* out, int out_bytes,
                        const char* default_char, BOOL* used_default) {
  using namespace mms::platform;
  if (used_default != nullptr) {
    *used_default = FALSE;  // nothing is ever substituted
  }
  if (text == nullptr || text_chars == 0 || text_chars < -1 || out_bytes < 0 ||
      (out == nullptr && out_bytes > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  char charset[16];
  if (!CharsetFor(code_page, charset)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // default_char is accepted for every code page (the phone refuses it for
  // UTF-8) and never used, since nothing is substituted.
  (void)default_char;
  size_t in_chars = text_chars == -1 ? std::wcslen(text) + 1
                                     : static_cast<size_t>(text_chars);
  return Convert(kWideCharset, charset, text, in_chars * sizeof(wchar_t), out,
                 static_cast<size_t>(out_bytes), 1);
}
