// header_table_test.cc: lookups in the header field table.
#include "codec/header_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace mms::codec {
namespace {

TEST(HeaderTable, FindsEveryCodeByBareCodeOrWireByte) {
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
  EXPECT_STREQ(HeaderName(kBcc), "Bcc");
  EXPECT_EQ(FindHeader(kContentType)->kind, ValueKind::kContentType);
  EXPECT_EQ(FindHeader(kFrom)->kind, ValueKind::kFrom);
}

TEST(HeaderTable, UnassignedCodesHaveNoRow) {
  EXPECT_EQ(FindHeader(0x00), nullptr);
  EXPECT_EQ(FindHeader(0x80), nullptr);
  EXPECT_EQ(FindHeader(0x40), nullptr);
  EXPECT_EQ(HeaderName(0xFF), nullptr);
}

}  // namespace
}  // namespace mms::codec
