// header_table_test.cc: lookups in the header field table.
#include "codec/header_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace mms::codec {
namespace {

TEST(HeaderTable, FindsEachCodeByBareCodeOrWireByteOnly) {
  std::set<std::string> names;
  for (uint8_t code = 1; code <= 0x3F; ++code) {
    const HeaderRow* row = FindHeader(code);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->code, code);
    EXPECT_EQ(FindHeader(code | 0x80), row);
    names.insert(row->name);
  }
  EXPECT_EQ(names.size(), 0x3Fu);  // no name twice
  EXPECT_STREQ(HeaderName(0x98), "X-Mms-Transaction-Id");
  EXPECT_STREQ(HeaderName(kContentLocation), "X-Mms-Content-Location");
  for (uint8_t unassigned : {0x00, 0x80, 0x40, 0xFF}) {
    EXPECT_EQ(FindHeader(unassigned), nullptr);
  }
}

}  // namespace
}  // namespace mms::codec
