// header_fields_test.cc: the strict field walk: how far each value form
// reaches, application headers, and a reader left in place on failure.
#include "codec/header_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Hex;

struct Walked {
  std::vector<size_t> offsets;
  std::vector<size_t> value_sizes;
  FieldStep last = FieldStep::kField;
  size_t stopped_at = 0;
};

Walked Walk(const Bytes& pdu) {
  Walked w;
  ByteReader r(pdu.data(), pdu.size());
  HeaderField f;
  while ((w.last = NextHeaderField(r, &f)) == FieldStep::kField) {
    w.offsets.push_back(f.offset);
    w.value_sizes.push_back(f.value.size());
  }
  w.stopped_at = r.position();
  return w;
}

TEST(HeaderFields, EachValueFormReachesExactlyItsEnd) {
  const Bytes pdu =
      Hex("8d 0a"                 // Octet: one byte even below 128
          "98 01 41 00"           // Text starting below 32: to its 0
          "89 01 81"              // From: Value-length 1
          "96 1f 20" +            // Subject: Length-quote, uintvar 32 ...
          std::string(64, '0') +  // ... and 32 bytes
          "58 2d 41 00 62 00"     // application header X-A: "b"
          "c5 82"                 // unassigned code, Short-integer value
          "84 a3");               // Content-Type
  const Walked w = Walk(pdu);
  EXPECT_EQ(w.offsets, (std::vector<size_t>{0, 2, 6, 9, 44, 50, 52}));
  EXPECT_EQ(w.value_sizes, (std::vector<size_t>{1, 3, 2, 34, 2, 1, 1}));
  EXPECT_EQ(w.last, FieldStep::kEnd);
}

TEST(HeaderFields, ACutShortFieldLeavesTheReaderAtItsStart) {
  const Bytes pdu = Hex("8c 80 98 54 31 00 89 04 80 2b 31 00 96 1f 20 41");
  for (size_t n = 1; n < pdu.size(); ++n) {
    const Walked w = Walk(Bytes(pdu.begin(), pdu.begin() + n));
    if (n == 2 || n == 6 || n == 12) {
      EXPECT_EQ(w.last, FieldStep::kEnd) << n;
    } else {
      EXPECT_EQ(w.last, FieldStep::kTruncated) << n;
      EXPECT_EQ(w.stopped_at, w.offsets.empty() ? 0
                              : n < 6           ? 2
                              : n < 12          ? 6
                                                : 12)
          << n;
    }
  }
  EXPECT_EQ(Walk(Hex("8c 80 05 01")).last, FieldStep::kBadByte);
  EXPECT_EQ(Walk(Hex("8c 80 05 01")).stopped_at, 2u);
}

TEST(HeaderFields, ValueReadersTakeEveryStringForm) {
  auto encoded = [](const std::string& hex, uint32_t* charset) {
    const Bytes bytes = Hex(hex);
    ByteReader text;
    if (!ReadEncodedStringValue(ByteReader(bytes.data(), bytes.size()), charset,
                                &text)) {
      return std::string("<refused>");
    }
    return std::string(reinterpret_cast<const char*>(text.current()),
                       text.remaining());
  };
  uint32_t charset = 7;
  EXPECT_EQ(encoded("41 42 00", &charset), "AB");
  EXPECT_EQ(charset, 0u);
  EXPECT_EQ(encoded("04 ea 41 42 00", &charset), "AB");
  EXPECT_EQ(charset, 106u);
  EXPECT_EQ(encoded("06 02 07 ea 41 42 00", &charset), "AB");
  EXPECT_EQ(charset, 2026u);
  EXPECT_EQ(encoded("7f c3 a9 00", &charset), "\xc3\xa9");  // quoted text
  EXPECT_EQ(encoded("00", &charset), "");
  EXPECT_EQ(encoded("05 ea 41 42 00", &charset), "<refused>");  // too short
  EXPECT_EQ(encoded("03 ea 41 42", &charset), "<refused>");     // no 0

  const Bytes big = Hex("08 01 02 03 04 05 06 07 08");
  ByteReader r(big.data(), big.size());
  uint64_t n = 0;
  ASSERT_TRUE(ReadIntegerValue(r, &n));
  EXPECT_EQ(n, 0x0102030405060708u);
  const Bytes too_big = Hex("09 01 02 03 04 05 06 07 08 09");
  ByteReader r2(too_big.data(), too_big.size());
  EXPECT_FALSE(ReadIntegerValue(r2, &n));
  EXPECT_EQ(r2.position(), 0u);
}

}  // namespace
}  // namespace mms::codec
