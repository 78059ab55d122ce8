// byte_writer_test.cc: the cap (the value forms are read back in
// wsp_reader_test.cc and checked as bytes in the encoder's tests).
#include "codec/byte_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::codec {
namespace {

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

}  // namespace
}  // namespace mms::codec
