// byte_writer_test.cc: the WSP value forms as bytes, and the cap.
#include "codec/byte_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Hex;

Bytes Of(const ByteWriter& w) { return Bytes(w.data(), w.data() + w.size()); }

TEST(ByteWriter, ValueLengthSwitchesToLengthQuoteAt31) {
  ByteWriter w(64);
  ASSERT_TRUE(w.PutValueLength(0));
  ASSERT_TRUE(w.PutValueLength(30));
  ASSERT_TRUE(w.PutValueLength(31));
  ASSERT_TRUE(w.PutValueLength(300));
  EXPECT_EQ(Of(w), Hex("00 1e 1f 1f 1f 82 2c"));
}

TEST(ByteWriter, StringForms) {
  ByteWriter w(64);
  ASSERT_TRUE(w.PutTextString("ab"));
  ASSERT_TRUE(w.PutTextString("\xe4\xb8\xad", 3));  // no quote byte added
  ASSERT_TRUE(w.PutQuotedString("<x>", 3));         // no closing quote
  ASSERT_TRUE(w.PutShortInteger(0x33));
  EXPECT_EQ(Of(w), Hex("61 62 00  e4 b8 ad 00  22 3c 78 3e 00  b3"));
}

TEST(ByteWriter, EncodedStringCountsCharsetTextAndTerminator) {
  const std::string s28(28, 'a');
  const std::string s29(29, 'a');
  ByteWriter w28(64);
  ByteWriter w29(64);
  ASSERT_TRUE(w28.PutEncodedString(106, s28.data(), s28.size()));
  ASSERT_TRUE(w29.PutEncodedString(106, s29.data(), s29.size()));
  EXPECT_EQ(Of(w28).size(), 1u + 1 + 28 + 1);
  EXPECT_EQ(Bytes(w28.data(), w28.data() + 2), Hex("1e ea"));
  EXPECT_EQ(Of(w29).size(), 2u + 1 + 29 + 1);
  EXPECT_EQ(Bytes(w29.data(), w29.data() + 3), Hex("1f 1f ea"));
  EXPECT_EQ(w29.data()[w29.size() - 1], 0);
}

TEST(ByteWriter, LongIntegerAndLengthPrefixedValue) {
  ByteWriter w(64);
  ASSERT_TRUE(w.PutLongInteger(0));
  ASSERT_TRUE(w.PutLongInteger(3600));
  ASSERT_TRUE(w.PutLongInteger(86400));
  ASSERT_TRUE(w.PutLongInteger(1237278605));
  EXPECT_EQ(Of(w), Hex("01 00  02 0e 10  03 01 51 80  04 49 bf 5f 8d"));

  ByteWriter inner(64);
  ASSERT_TRUE(inner.PutByte(129));
  ASSERT_TRUE(inner.PutLongInteger(86400));
  ByteWriter outer(64);
  ASSERT_TRUE(outer.PutValueLengthAnd(inner));
  EXPECT_EQ(Of(outer), Hex("05 81 03 01 51 80"));  // Expiry of 24 hours
}

TEST(ByteWriter, PassingTheCapDropsEverythingForGood) {
  ByteWriter w(4);
  ASSERT_TRUE(w.PutBytes("abc", 3));
  ASSERT_TRUE(w.PutByte('d'));
  EXPECT_FALSE(w.PutByte('e'));
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(w.size(), 0u);
  EXPECT_FALSE(w.PutByte('f'));  // stays failed
  size_t size = 99;
  EXPECT_EQ(w.TakeBlock(&size), nullptr);

  ByteWriter big(8);
  EXPECT_FALSE(big.Reserve(9));
  EXPECT_FALSE(big.ok());

  ByteWriter failed(1);
  EXPECT_FALSE(failed.PutBytes("ab", 2));
  ByteWriter outer(64);
  EXPECT_FALSE(outer.PutValueLengthAnd(failed));  // never half a value
  EXPECT_FALSE(outer.ok());
}

TEST(ByteWriter, GrowsPastItsFirstBlockAndHandsOutExactBytes) {
  ByteWriter w(1 << 20);
  Bytes expected;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(w.PutByte(static_cast<uint8_t>(i)));
    expected.push_back(static_cast<uint8_t>(i));
  }
  size_t size = 0;
  unsigned char* block = w.TakeBlock(&size);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(Bytes(block, block + size), expected);
  LocalFree(block);
  EXPECT_EQ(w.size(), 0u);
  EXPECT_EQ(w.TakeBlock(&size), nullptr);  // nothing left to hand out
}

}  // namespace
}  // namespace mms::codec
