// text_convert.h: charset conversion through iconv, for the platform files.
//
// Wide text (wchar_t) is UTF-32 in host byte order on Linux; kWideCharset is
// the one place that says so. Conversions are strict: malformed input or a
// character the target cannot hold is an error, never a substitute.
#ifndef MMS_PLATFORM_TEXT_CONVERT_H_
#define MMS_PLATFORM_TEXT_CONVERT_H_

#include <cstddef>
#include <string>

namespace mms::platform {

extern const char kWideCharset[];

enum class ConvertResult {
  kOk,
  kInvalidInput,    // malformed or unrepresentable text
  kUnknownCharset,  // iconv does not know one of the names
};

// Converts in_bytes bytes at in from one iconv charset to another; out
// receives the bytes (no terminator added).
[[nodiscard]] ConvertResult ConvertText(const char* from_charset,
                                        const char* to_charset, const void* in,
                                        size_t in_bytes, std::string* out);

// Wide <-> UTF-8; false for malformed text or lone surrogates.
[[nodiscard]] bool WideToUtf8Text(const std::wstring& wide, std::string* utf8);
[[nodiscard]] bool Utf8ToWideText(const std::string& utf8, std::wstring* wide);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_TEXT_CONVERT_H_
