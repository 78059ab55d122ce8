// text_convert.cc: the iconv wrapper behind code pages and device paths.
//
// Each call opens its own conversion descriptor, so callers on different
// threads never share iconv state.
#include "platform/text_convert.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>

namespace mms::platform {

static_assert(sizeof(wchar_t) == 4, "wide text is taken as UTF-32");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "kWideCharset names the little-endian form");
// UTF-32LE rather than WCHAR_T: glibc's UTF-32 module refuses surrogates
// and code points past U+10FFFF in both directions.
const char kWideCharset[] = "UTF-32LE";

ConvertResult ConvertText(const char* from_charset, const char* to_charset,
                          const void* in, size_t in_bytes, std::string* out) {
  out->clear();
  iconv_t cd = iconv_open(to_charset, from_charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return ConvertResult::kUnknownCharset;
  }
  // iconv takes a non-const input pointer but never writes through it.
  char* src = const_cast<char*>(static_cast<const char*>(in));
  size_t src_left = in_bytes;
  char chunk[1024];
  ConvertResult result = ConvertResult::kOk;
  while (src_left > 0) {
    char* dst = chunk;
    size_t dst_left = sizeof chunk;
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out->append(chunk, sizeof chunk - dst_left);
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
      result = ConvertResult::kInvalidInput;  // EILSEQ or EINVAL (cut short)
      break;
    }
    if (rc != static_cast<size_t>(-1) && rc != 0) {
      // Irreversible conversions mean a substitute was written.
      result = ConvertResult::kInvalidInput;
      break;
    }
  }
  if (result == ConvertResult::kOk) {
    // Flush any shift state (stateful charsets only).
    char* dst = chunk;
    size_t dst_left = sizeof chunk;
    iconv(cd, nullptr, nullptr, &dst, &dst_left);
    out->append(chunk, sizeof chunk - dst_left);
  }
  iconv_close(cd);
  if (result != ConvertResult::kOk) {
    out->clear();
  }
  return result;
}

bool WideToUtf8Text(const std::wstring& wide, std::string* utf8) {
  return ConvertText(kWideCharset, "UTF-8", wide.data(),
                     wide.size() * sizeof(wchar_t), utf8) == ConvertResult::kOk;
}

bool Utf8ToWideText(const std::string& utf8, std::wstring* wide) {
  std::string bytes;
  wide->clear();
  if (ConvertText("UTF-8", kWideCharset, utf8.data(), utf8.size(), &bytes) !=
      ConvertResult::kOk) {
    return false;
  }
  wide->resize(bytes.size() / sizeof(wchar_t));
  std::memcpy(wide->data(), bytes.data(), wide->size() * sizeof(wchar_t));
  return true;
}

}  // namespace mms::platform
