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

TEST(ByteWriter, LaysOutEachValueForm) {
  ByteWriter w(256);
  ASSERT_TRUE(w.PutValueLength(30) && w.PutValueLength(31) &&
              w.PutValueLength(300));
  ASSERT_TRUE(w.PutTextString("\xe4\xb8\xad"));  // quote 127 in front
  ASSERT_TRUE(w.PutQuotedString("<x>", 3));      // no closing quote
  ASSERT_TRUE(w.PutShortInteger(0x33));
  ASSERT_TRUE(w.PutLongInteger(0) && w.PutLongInteger(3600) &&
              w.PutLongInteger(86400) && w.PutLongInteger(1237278605));
  EXPECT_EQ(Of(w), Hex("1e  1f 1f  1f 82 2c  7f e4 b8 ad 00  22 3c 78 3e 00  b3"
                       "01 00  02 0e 10  03 01 51 80  04 49 bf 5f 8d"));

  // The length counts the charset byte, the text and its 0.
  const std::string s28(28, 'a');
  const std::string s29(29, 'a');
  ByteWriter e(256);
  ASSERT_TRUE(e.PutEncodedString(106, s28.data(), s28.size()));
  ASSERT_TRUE(e.PutEncodedString(106, s29.data(), s29.size()));
  EXPECT_EQ(e.size(), (1u + 30) + (2u + 31));
  EXPECT_EQ(Bytes(e.data(), e.data() + 2), Hex("1e ea"));
  EXPECT_EQ(Bytes(e.data() + 31, e.data() + 34), Hex("1f 1f ea"));
}

TEST(ByteWriter, PassingTheCapDropsEverythingForGood) {
  ByteWriter w(4);
  ASSERT_TRUE(w.PutBytes("abc", 3));
  ASSERT_TRUE(w.PutByte('d'));
  EXPECT_FALSE(w.PutByte('e'));
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(w.size(), 0u);
  EXPECT_FALSE(w.PutByte('f'));
  size_t size = 99;
  EXPECT_EQ(w.TakeBlock(&size), nullptr);

  ByteWriter reserve(8);
  EXPECT_FALSE(reserve.Reserve(9));
  EXPECT_FALSE(reserve.ok());

  // A failed inner value never goes out as half a value.
  ByteWriter outer(64);
  EXPECT_FALSE(outer.PutValueLengthAnd(w));
  EXPECT_FALSE(outer.ok());
}

TEST(ByteWriter, GrowsAndHandsOutExactlyWhatWasWritten) {
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
  EXPECT_EQ(w.TakeBlock(&size), nullptr);  // nothing left
}

}  // namespace
}  // namespace mms::codec
