// transfer.cc: base64 and quoted-printable part data.
#include "codec/decode/transfer.h"

namespace mms::codec {
namespace {

int Base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') {
    return c - 'A';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 26;
  }
  if (c >= '0' && c <= '9') {
    return c - '0' + 52;
  }
  if (c == '+') {
    return 62;
  }
  if (c == '/') {
    return 63;
  }
  return -1;
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

}  // namespace

std::vector<uint8_t> DecodeBase64(const uint8_t* text, size_t n) {
  std::vector<uint8_t> out;
  out.reserve(n / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = 0; i < n && text[i] != '='; ++i) {
    const int v = Base64Value(text[i]);
    if (v < 0) {
      continue;
    }
    bits = bits << 6 | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<uint8_t>(bits >> count));
    }
  }
  return out;
}

std::vector<uint8_t> DecodeQuotedPrintable(const uint8_t* text, size_t n) {
  std::vector<uint8_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (text[i] != '=') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 1 < n && text[i + 1] == '\n') {
      i += 1;  // soft line break
    } else if (i + 2 < n && text[i + 1] == '\r' && text[i + 2] == '\n') {
      i += 2;
    } else if (i + 2 < n && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<uint8_t>(HexValue(text[i + 1]) << 4 |
                                         HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace mms::codec
