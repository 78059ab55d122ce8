// pdu_builder.h: PDUs for decoder tests, built field by field so each test
// shows the bytes it feeds in.
#ifndef MMS_TESTS_DECODE_PDU_BUILDER_H_
#define MMS_TESTS_DECODE_PDU_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "codec/uintvar.h"
#include "support/test_support.h"

namespace mms::testing {

// Text bytes with their terminating 0.
inline Bytes Str(const std::string& text) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  return b;
}

inline Bytes Raw(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Uintvar(uint32_t value) {
  uint8_t out[mms::codec::kMaxUintvarBytes];
  return Bytes(out, out + mms::codec::PutUintvar(value, out));
}

// A header block the way a retrieve-conf starts, ending in Content-Type
// multipart.mixed (163): type, transaction ID "T1", version, date, From,
// To, subject.
inline Bytes RetrieveHeader() {
  return Cat({Hex("8c 84"), Hex("98"), Str("T1"), Hex("8d 90"),
              Hex("85 04 49 af 00 12"),  // Date 1236205586
              Hex("89 1a 80"), Str("+8613800000000/TYPE=PLMN"), Hex("97"),
              Str("+8613900000000/TYPE=PLMN"), Hex("96"), Str("Hi"),
              Hex("84 a3")});
}

// Value-length: one byte up to 30, else 31 and a uintvar.
inline Bytes ValueLength(size_t n) {
  if (n < 31) {
    return Bytes{static_cast<uint8_t>(n)};
  }
  return Cat({Bytes{31}, Uintvar(static_cast<uint32_t>(n))});
}

// One multipart entry: HeadersLen, DataLen, headers, data.
inline Bytes Entry(const Bytes& headers, const Bytes& data) {
  return Cat({Uintvar(static_cast<uint32_t>(headers.size())),
              Uintvar(static_cast<uint32_t>(data.size())), headers, data});
}

// Entry headers with image/jpeg, Content-ID "<name>" and Content-Location
// name, as the encoder writes them for an image.
inline Bytes ImageHeaders(const std::string& name) {
  return Cat({ValueLength(name.size() + 3), Hex("9e 85"), Str(name),
              Hex("c0 22"), Str("<" + name + ">"), Hex("8e"), Str(name)});
}

}  // namespace mms::testing

#endif  // MMS_TESTS_DECODE_PDU_BUILDER_H_
