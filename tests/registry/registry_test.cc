// registry_test.cc: the registry calls and the status routines, seen from
// the calls and from the bytes kept in the database.
#include "platform/registry.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry_db.h"
#include "platform/test_seams.h"
#include "support/test_support.h"

namespace {

using mms::platform::StoredValue;
using mms::testing::DeviceTest;
using mms::testing::RegDword;
using mms::testing::StoredValues;
using mms::testing::WBuf;
using mms::testing::WriteOrder;

const std::wstring kKey = L"software\\varnholt\\MMS";

const StoredValue* Find(const std::vector<StoredValue>& values,
                        const std::wstring& name) {
  for (const StoredValue& v : values) {
    if (v.name == name) {
      return &v;
    }
  }
  return nullptr;
}

using RegistryTest = DeviceTest;

TEST_F(RegistryTest, StringIsStoredAsUtf16WithoutTerminator) {
  // U+1F600 needs a surrogate pair: four bytes stored, one wchar_t read.
  WBuf key(kKey), name(L"WapUrl"), text(L"ab\U0001F600");
  RegSetString(key, name, text);

  const std::vector<StoredValue> values = StoredValues();
  const StoredValue* url = Find(values, L"WapUrl");
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(url->type, REG_SZ);
  EXPECT_EQ(mms::testing::ToHex(url->data), "61 00 62 00 3d d8 00 de");

  wchar_t buffer[8];
  std::wmemset(buffer, L'#', 8);
  WBuf lower(L"wapurl");
  EXPECT_EQ(RegGetValue(key, lower, buffer, sizeof(buffer)), 1);
  EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"ab\U0001F600#"));
}

TEST_F(RegistryTest, ReaderGetsWhatFitsWithTerminatorOrNothingWhenMissing) {
  WBuf key(kKey), name(L"MessageID"), text(L"abcdef");
  RegSetString(key, name, text);
  wchar_t small[4];
  std::wmemset(small, L'#', 4);
  EXPECT_EQ(RegGetValue(key, name, small, sizeof(small)), 1);
  EXPECT_EQ(std::wstring(small), L"abc");

  wchar_t untouched[4] = {L'x', L'y', L'z', 0};
  WBuf missing(L"NoSuchValue"), other_key(L"software\\nowhere");
  EXPECT_EQ(RegGetValue(key, missing, untouched, sizeof(untouched)), 0);
  EXPECT_EQ(RegGetValue(other_key, name, untouched, sizeof(untouched)), 0);
  EXPECT_EQ(std::wstring(untouched), L"xyz");

  unsigned char id[16] = {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
                          0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
  WBuf current(L"CurrentID");
  RegSetBinary(key, current, id);
  unsigned char half[8] = {};
  EXPECT_EQ(RegGetValue(key, current, half, sizeof(half)), 1);
  EXPECT_EQ(0, std::memcmp(half, id, sizeof(half)));
  const std::vector<StoredValue> values = StoredValues();
  const StoredValue* stored = Find(values, L"CurrentID");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->type, REG_BINARY);
  EXPECT_EQ(stored->data.size(), 16u);
}

TEST_F(RegistryTest, WritesIntoADeletedKeyAreLostUntilADwordRemakesIt) {
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Varnholt"),
            ERROR_SUCCESS);
  WBuf key(kKey), phone(L"WapPhone"), number(L"13800000000");
  EXPECT_EQ(RegSetString(key, phone, number), 0);
  EXPECT_TRUE(StoredValues().empty());

  WBuf type(L"WapType");
  EXPECT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, key, type, 130), 1);
  EXPECT_EQ(RegSetString(key, phone, number), 1);
  const std::vector<StoredValue> values = StoredValues();
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[1].name, L"WapPhone");
}

// The registry file replaced behind the process (its root removed and made
// again) is the one the next write goes to.
TEST_F(RegistryTest, AFileReplacedBehindTheProcessGetsTheNextWrite) {
  WBuf key(kKey), type(L"WapType");
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, key, type, 1), 1);
  const std::string path = mms::platform::RegistryDbPath();
  for (const char* suffix : {"", "-wal", "-shm"}) {
    unlink((path + suffix).c_str());
  }
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, key, type, 2), 1);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(
                db, "SELECT count(*) FROM reg_values WHERE folded = 'waptype'",
                -1, &stmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(RegistryTest, ReportsWriteTheValueThenAFreshState) {
  mms::platform::test::FixRandom(0x12345678);
  ReportNewMMS(2);
  ReportSendResult(1);
  EXPECT_EQ(RegDword(L"NewMMS"), 2u);
  EXPECT_EQ(RegDword(L"ReciveState"), 0x12345678u);
  EXPECT_EQ(RegDword(L"SendOK"), 1u);

  EXPECT_EQ(WriteOrder(), (std::vector<std::wstring>{L"NewMMS", L"ReciveState",
                                                     L"SendOK", L"SendState"}));

  // Rewriting a value moves it to the end of the write order.
  mms::platform::test::FixRandom(7);
  ReportNewMMS(1);
  EXPECT_EQ(WriteOrder().back(), L"ReciveState");
  EXPECT_EQ(RegDword(L"ReciveState"), 7u);
}

}  // namespace
