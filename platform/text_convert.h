// text_convert.h: charset conversion through iconv, for the platform files.
//
// Wide text (wchar_t) is UTF-32 in host byte order on Linux; kWideCharset is
// the one place that says so. Conversions are strict: malformed input or a
// character the target cannot hold is an error, never a substitute.
// Converters stay open for the life of the process (see text_convert.cc),
// so a conversion costs no module load and, into a caller's buffer, no
// allocation; any thread may convert at any time.
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
  kOutputTooSmall,  // valid text that does not fit the caller's buffer
};

// Converts in_bytes bytes at in into out (out_bytes of room; out may be null
// when out_bytes is 0, which only counts). *produced receives the bytes the
// whole conversion makes, also when they do not fit. Invalid input is
// reported as such even when the buffer is too small. *written (when
// given) receives the bytes in out: whole characters, also when cut.
[[nodiscard]] ConvertResult ConvertInto(const char* from_charset,
                                        const char* to_charset, const void* in,
                                        size_t in_bytes, void* out,
                                        size_t out_bytes, size_t* produced,
                                        size_t* written = nullptr);

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
