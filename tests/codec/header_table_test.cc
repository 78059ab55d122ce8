// header_table_test.cc: lookups in the header field table.
#include "codec/header_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace mms::codec {
namespace {

TEST(HeaderTable, FindsEachCodeByBareCodeOrWireByteOnly) {
  size_t count = 0;
  const HeaderRow* rows = HeaderRows(&count);
  ASSERT_EQ(count, 0x3Fu);
  std::set<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(FindHeader(rows[i].code), &rows[i]);
    EXPECT_EQ(FindHeader(rows[i].code | 0x80), &rows[i]);
    names.insert(rows[i].name);
  }
  EXPECT_EQ(names.size(), count);  // no name twice
  EXPECT_STREQ(HeaderName(0x98), "X-Mms-Transaction-Id");
  EXPECT_STREQ(HeaderName(kContentLocation), "X-Mms-Content-Location");
  for (uint8_t unassigned : {0x00, 0x80, 0x40, 0xFF}) {
    EXPECT_EQ(FindHeader(unassigned), nullptr);
  }
}

}  // namespace
}  // namespace mms::codec
