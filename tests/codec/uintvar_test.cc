// uintvar_test.cc: the uintvar and Long-integer primitives, bytes exact,
// and reading uintvars back with their failure cases.
#include "codec/uintvar.h"

#include <gtest/gtest.h>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Hex;

Bytes Made(uint32_t value) {
  int size = -1;
  unsigned char* block = MakeUintvar(value, &size);
  EXPECT_NE(block, nullptr);
  Bytes bytes(block, block + size);
  LocalFree(block);
  return bytes;
}

TEST(Uintvar, WritesAndReadsBackEverySize) {
  EXPECT_EQ(Made(0), Hex("00"));
  EXPECT_EQ(Made(127), Hex("7f"));
  EXPECT_EQ(Made(128), Hex("81 00"));  // ends in 0: sized, never strlen'd
  EXPECT_EQ(Made(16383), Hex("ff 7f"));
  EXPECT_EQ(Made(UINT32_MAX), Hex("8f ff ff ff 7f"));
  for (uint32_t value :
       {0u, 127u, 128u, 16383u, 16384u, 2097152u, 268435456u, UINT32_MAX}) {
    const Bytes bytes = Made(value);
    uint32_t read = 0;
    EXPECT_EQ(GetUintvar(bytes.data(), bytes.size(), &read), bytes.size());
    EXPECT_EQ(read, value);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      EXPECT_EQ(GetUintvar(bytes.data(), cut, &read), 0u) << value << cut;
    }
  }
  uint32_t read = 0;
  const Bytes six = Hex("80 80 80 80 80 01");
  EXPECT_EQ(GetUintvar(six.data(), six.size(), &read), 0u);
  const Bytes past_32_bits = Hex("90 80 80 80 00");
  EXPECT_EQ(GetUintvar(past_32_bits.data(), past_32_bits.size(), &read), 0u);
}

TEST(LongInteger, CountsSignificantBytes) {
  const struct {
    uint32_t value;
    const char* tail;
  } cases[] = {{0, "00"},
               {3600, "0e 10"},
               {86400, "01 51 80"},
               {0x01000000, "01 00 00 00"}};
  for (const auto& c : cases) {
    unsigned char out[4];
    int count = 0;
    EXPECT_EQ(EncodeLongInteger(c.value, out, &count), 1);
    EXPECT_EQ(Bytes(out + 4 - count, out + 4), Hex(c.tail)) << c.value;
  }
}

TEST(SystemTimeToSeconds, CountsFromTheEpoch) {
  SYSTEMTIME epoch = {1970, 1, 4, 1, 0, 0, 0, 0};
  EXPECT_EQ(SystemTimeToSeconds(&epoch), 0);
  SYSTEMTIME later = {2009, 3, 2, 17, 8, 30, 5, 999};
  EXPECT_EQ(SystemTimeToSeconds(&later), 1237278605);
}

}  // namespace
}  // namespace mms::codec
