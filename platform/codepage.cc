// codepage.cc: MultiByteToWideChar / WideCharToMultiByte over iconv.
//
// CP_ACP is code page 936 (GBK) unless MMS_ACP names another number
// (65001 is UTF-8, any other n is iconv's "CP<n>"). Conversions are strict
// in both directions: malformed input, a lone surrogate or a character the
// target code page cannot hold fails with ERROR_NO_UNICODE_TRANSLATION
// instead of being replaced. Counts follow Win32: a length of -1 converts up
// to and including the terminator, and an output size of 0 asks for the size.
#include <stdlib.h>

#include <cstring>
#include <string>

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

// The iconv name of a code page ("" when it names none).
std::string CharsetFor(UINT code_page) {
  if (code_page == CP_ACP) {
    code_page = AnsiCodePage();
  }
  if (code_page == CP_UTF8) {
    return "UTF-8";
  }
  if (code_page == 936) {
    return "GBK";
  }
  if (code_page < 37) {
    return "";  // the phone's pseudo code pages (OEM, MAC, THREAD) are unused
  }
  return "CP" + std::to_string(code_page);
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

DWORD ErrorFor(ConvertResult result) {
  return result == ConvertResult::kUnknownCharset
             ? ERROR_INVALID_PARAMETER
             : ERROR_NO_UNICODE_TRANSLATION;
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
  std::string charset = CharsetFor(code_page);
  if (charset.empty()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  size_t in_bytes = text_bytes == -1 ? std::strlen(text) + 1
                                     : static_cast<size_t>(text_bytes);
  std::string wide;
  ConvertResult result =
      ConvertText(charset.c_str(), kWideCharset, text, in_bytes, &wide);
  if (result != ConvertResult::kOk) {
    return Fail(ErrorFor(result));
  }
  size_t count = wide.size() / sizeof(wchar_t);
  if (count > static_cast<size_t>(INT32_MAX)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (out_chars == 0) {
    return static_cast<int>(count);
  }
  if (count > static_cast<size_t>(out_chars)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(out, wide.data(), count * sizeof(wchar_t));
  return static_cast<int>(count);
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
  std::string charset = CharsetFor(code_page);
  if (charset.empty()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // default_char is accepted for every code page (the phone refuses it for
  // UTF-8) and never used, since nothing is substituted.
  (void)default_char;
  size_t in_chars = text_chars == -1 ? std::wcslen(text) + 1
                                     : static_cast<size_t>(text_chars);
  std::string bytes;
  ConvertResult result = ConvertText(kWideCharset, charset.c_str(), text,
                                     in_chars * sizeof(wchar_t), &bytes);
  if (result != ConvertResult::kOk) {
    return Fail(ErrorFor(result));
  }
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (out_bytes == 0) {
    return static_cast<int>(bytes.size());
  }
  if (bytes.size() > static_cast<size_t>(out_bytes)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(out, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}
