// store_test.cc: message file names, storing a PDU, the decode folder.
#include "store/store.h"

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "mms.h"
#include "platform/test_seams.h"
#include "support/test_support.h"

namespace mms::store {
namespace {

using mms::testing::Bytes;
using mms::testing::DeviceTest;
using mms::testing::Hex;
using mms::testing::ReadHostFile;
using mms::testing::WBuf;

SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute,
               WORD second) {
  return {year, month, 0, day, hour, minute, second, 0};
}

// The draw the store must make for a tick count.
int DrawFor(DWORD ticks) {
  srand(ticks);
  return rand();
}

std::wstring MakeName() {
  wchar_t name[260];
  wmemset(name, L'#', 260);
  EXPECT_EQ(1, MakeMMSFileName(name));
  return name;
}

class StoreTest : public DeviceTest {};

TEST_F(StoreTest, NameIsPrefixUnpaddedUtcFieldsTickSeededDrawAndExtension) {
  platform::test::FixClock(Utc(2009, 3, 5, 6, 27, 4));
  platform::test::FixTickCount(777);
  const std::wstring name = MakeName();
  EXPECT_EQ(L"Varnholt2009356274" + std::to_wstring(DrawFor(777)) + L".mms",
            name);
  EXPECT_EQ(name, MakeName());  // same tick, same name
  platform::test::FixTickCount(778);
  EXPECT_NE(name, MakeName());
  // No padding: 1 November and 11 January give the same date part.
  platform::test::FixClock(Utc(2009, 11, 1, 1, 1, 1));
  const std::wstring november = MakeName();
  platform::test::FixClock(Utc(2009, 1, 11, 1, 1, 1));
  EXPECT_EQ(november, MakeName());
  EXPECT_EQ(0u, november.find(L"Varnholt2009111111"));
  EXPECT_EQ(0, MakeMMSFileName(nullptr));
}

TEST_F(StoreTest, StoresExactBytesAndReportsTheDevicePath) {
  platform::test::FixClock(Utc(2009, 3, 5, 6, 27, 4));
  platform::test::FixTickCount(42);
  const Bytes pdu = Hex("8c 80 98 54 31 00 8d 90 00 ff");
  WBuf path(std::wstring(260, L'#'));
  ASSERT_EQ(1,
            StoreMessageFile(pdu.data(), static_cast<int>(pdu.size()), path));
  const std::wstring expected = L"\\Windows\\Messaging\\Varnholt2009356274" +
                                std::to_wstring(DrawFor(42)) + L".mms";
  EXPECT_EQ(expected, std::wstring(static_cast<wchar_t*>(path)));
  EXPECT_EQ(pdu, ReadHostFile(Host(expected)));
  // A repeated name is drawn again (same format) and never replaces the
  // older file; a null path still stores.
  WBuf again(std::wstring(260, L'#'));
  ASSERT_EQ(1, StoreMessageFile(pdu.data(), 2, again));
  const std::wstring second(static_cast<wchar_t*>(again));
  EXPECT_NE(second, expected);
  EXPECT_EQ(second.rfind(L"\\Windows\\Messaging\\Varnholt2009356274", 0), 0u);
  EXPECT_EQ(second.substr(second.size() - 4), L".mms");
  EXPECT_EQ(pdu, ReadHostFile(Host(expected)));
  EXPECT_EQ(Hex("8c 80"), ReadHostFile(Host(second)));
  ASSERT_EQ(1, StoreMessageFile(pdu.data(), 2, nullptr));
}

TEST_F(StoreTest, MissingFolderFailsAtCreationWithoutMakingIt) {
  std::filesystem::remove_all(Host(L"\\Windows\\Messaging"));
  StoreFailure failure = StoreFailure::kNone;
  EXPECT_EQ(0, StoreMessageFile(Hex("8c 80").data(), 2, nullptr, &failure));
  EXPECT_EQ(StoreFailure::kCreate, failure);
  EXPECT_FALSE(std::filesystem::exists(Host(L"\\Windows\\Messaging")));
}

TEST_F(StoreTest, DecodeFolderIsMadeThenReportedAsPresentButNeedsItsParent) {
  EXPECT_EQ(1, CreateDeCodeFolder());
  EXPECT_TRUE(std::filesystem::is_directory(Host(L"\\temp\\mmsdecode")));
  EXPECT_EQ(1, CreateDeCodeFolder());
  std::filesystem::remove_all(Host(L"\\Temp"));
  EXPECT_EQ(0, CreateDeCodeFolder());
}

}  // namespace
}  // namespace mms::store
