// connection_test.cc: choosing the destination, the request, the poll
// cycles, provisioning and release, against the Connection Manager
// stand-in on a private device root with the test time scale.
#include "transport/connection.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "connmgr/connmgr_entries.h"
#include "connmgr/test_seams.h"
#include "diag/log.h"
#include "platform/registry.h"
#include "platform/registry_db.h"
#include "platform/thread.h"
#include "store/registry_values.h"
#include "support/test_support.h"

namespace {

namespace connmgr = mms::connmgr;
namespace cm_test = mms::connmgr::test;

constexpr wchar_t kGprsKey[] =
    L"Comm\\ConnMgr\\Providers\\{7C4B7A38-5FF7-4bc1-80F6-5DA7870BB1AA}"
    L"\\Connections\\GPRS";
constexpr wchar_t kTempNetworkKey[] =
    L"Comm\\ConnMgr\\Destinations\\中国移动彩信中心";
constexpr wchar_t kTempEntryKey[] =
    L"Comm\\ConnMgr\\Providers\\{7C4B7A38-5FF7-4bc1-80F6-5DA7870BB1AA}"
    L"\\Connections\\中国移动彩信中心";
constexpr wchar_t kProxyKey[] =
    L"Comm\\ConnMgr\\Proxies\\WAP\\{D1D06580-C364-55ec-9421-6ACF34129C58}";
constexpr wchar_t kNewNetwork[] = L"{D1D06580-C364-55EC-9421-6ACF34129C58}";

std::wstring Query(const std::wstring& entry) {
  return L"<wap-provisioningdoc><characteristic type=\"CM_GPRSEntries\">"
         L"<characteristic type=\"" +
         entry +
         L"\"><characteristic type=\"DevSpecificCellular\"><parm-query "
         L"name=\"GPRSInfoAccessPointName\"/></characteristic>"
         L"</characteristic></characteristic></wap-provisioningdoc>";
}

GUID Guid(const std::wstring& text) {
  GUID guid = {};
  EXPECT_TRUE(connmgr::ParseGuid(text, &guid)) << "bad GUID in test";
  return guid;
}

std::wstring Text(const GUID& guid) { return connmgr::GuidText(guid); }

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

class ConnectionTest : public mms::testing::DeviceTest {
 protected:
  void SetUp() override {
    cm_test::Reset();
    pWebConnect = nullptr;
    mms::platform::SetTimeScaleForTest(0.001);
  }
  void TearDown() override {
    cm_test::Reset();
    pWebConnect = nullptr;
    unsetenv("MMS_WAP_PROXY");
    DeviceTest::TearDown();
  }

  static GUID AddEntry(const std::wstring& name, const std::wstring& apn,
                       const std::wstring& script = L"",
                       DWORD type = CM_CONNTYPE_CELLULAR) {
    static DWORD next = 0x100;
    connmgr::Entry entry;
    entry.name = name;
    entry.apn = apn;
    entry.type = type;
    entry.dest = Guid(L"{00000000-0000-0000-0000-000000000000}");
    entry.dest.Data1 = ++next;
    EXPECT_TRUE(connmgr::ParseStatusScript(script, &entry.script));
    EXPECT_TRUE(connmgr::WriteEntry(entry));
    return entry.dest;
  }

  static void RemoveSeededEntry() {
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kGprsKey), ERROR_SUCCESS);
  }

  // The device's one entry is not "cmwap", and entries made by
  // provisioning stay out of the detailed status list.
  static void KeepProvisionedOutOfTheList() {
    ASSERT_TRUE(
        connmgr::WriteTexts(kGprsKey, {{connmgr::kApnValue, L"cmnet"}}));
    ASSERT_TRUE(connmgr::WriteDword(connmgr::kConnMgrKey,
                                    connmgr::kListProvisionedValue, 0));
  }

  static void AddDestinations(int count) {
    for (int i = 0; i < count; ++i) {
      connmgr::Destination d;
      d.name = L"net" + std::to_wstring(i);
      d.guid = Guid(L"{00000000-0000-0000-0000-0000000000AA}");
      d.guid.Data1 = static_cast<DWORD>(i + 1);
      ASSERT_TRUE(connmgr::WriteDestination(d));
    }
  }

  // "CurrentID" as stored, or "" when missing.
  static std::wstring CurrentId() {
    GUID guid = {};
    std::wstring key = mms::store::kMmsKey;
    std::wstring name = mms::store::kCurrentId;
    if (RegGetValue(key.data(), name.data(), &guid, sizeof(guid)) == 0) {
      return L"";
    }
    return Text(guid);
  }

  static std::vector<std::wstring> RequestedDestinations() {
    std::vector<std::wstring> out;
    for (const CONNMGR_CONNECTIONINFO& r : cm_test::Requests()) {
      out.push_back(Text(r.guidDestNet));
    }
    return out;
  }
};

const wchar_t kZero[] = L"{00000000-0000-0000-0000-000000000000}";

TEST_F(ConnectionTest, NewDeviceConnectsThroughItsCmwapEntryThenKeepsIt) {
  std::filesystem::create_directories(Host(L"\\KestLogDir"));

  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 1);

  // No "CurrentID" yet: the all-zero destination is tried first, then the
  // search finds the entry and remembers its destination.
  EXPECT_EQ(RequestedDestinations(),
            (std::vector<std::wstring>{kZero, connmgr::kInternetGuid}));
  EXPECT_EQ(cm_test::Documents(), std::vector<std::wstring>{Query(L"GPRS")});
  EXPECT_EQ(CurrentId(), connmgr::kInternetGuid);
  // The failed first request was released, not overwritten.
  EXPECT_EQ(cm_test::LiveConnections(), 1u);

  const CONNMGR_CONNECTIONINFO r = cm_test::Requests()[1];
  EXPECT_EQ(std::make_tuple(r.cbSize, r.dwParams, r.dwFlags, r.dwPriority,
                            r.bExclusive, r.bDisabled),
            std::make_tuple(DWORD{sizeof r}, 1u, 0xFu, 0x2000u, TRUE, FALSE));
  EXPECT_TRUE(r.hWnd == nullptr && r.uMsg == 0 && r.lParam == 0);
  EXPECT_EQ(r.ulMaxCost + r.ulMinRcvBw + r.ulMaxConnLatency, 0u);

  mms::diag::CloseLog();
  const mms::testing::Bytes log = mms::testing::ReadHostFile(
      Host(L"\\KestLogDir\\connection_tests_log.txt"));
  EXPECT_NE(std::string(log.begin(), log.end())
                .find(" : Internet connection succesfully completed.\r\n"),
            std::string::npos);

  // Connected, the handle is used as it is: nothing the full path would
  // touch (a temporary key, a remembered destination) is.
  const HANDLE held = pWebConnect;
  ASSERT_TRUE(connmgr::WriteTexts(kTempNetworkKey, {{L"DestId", kNewNetwork}}));
  std::wstring key = mms::store::kMmsKey;
  std::wstring name = mms::store::kCurrentId;
  unsigned char other[16] = {9, 9, 9};
  RegSetBinary(key.data(), name.data(), other);
  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 1);
  EXPECT_EQ(pWebConnect, held);
  EXPECT_EQ(cm_test::Requests().size(), 2u);
  EXPECT_EQ(cm_test::Documents().size(), 1u);
  EXPECT_TRUE(KeyExists(kTempNetworkKey));
}

TEST_F(ConnectionTest, FirstCmwapEntryInAnyCaseWinsAndIsRemembered) {
  RemoveSeededEntry();
  AddEntry(L"LAN", L"cmwap", L"", CM_CONNTYPE_NIC);
  AddEntry(L"Web", L"cmnet");
  const GUID first = AddEntry(L"Upper", L"CMWAP");
  AddEntry(L"Lower", L"cmwap");

  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 1);
  // Only cellular entries are asked about, up to the first match.
  EXPECT_EQ(cm_test::Documents(),
            (std::vector<std::wstring>{Query(L"Web"), Query(L"Upper")}));
  EXPECT_EQ(CurrentId(), Text(first));
  EXPECT_EQ(RequestedDestinations().back(), Text(first));

  // Next time the remembered destination is used directly.
  EXPECT_EQ(CloseMMSConnection(&pWebConnect), 1);
  EXPECT_EQ(pWebConnect, nullptr);
  EXPECT_EQ(cm_test::LiveConnections(), 0u);
  cm_test::Reset();
  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 1);
  EXPECT_EQ(RequestedDestinations(), std::vector<std::wstring>{Text(first)});
  EXPECT_TRUE(cm_test::Documents().empty());
}

TEST_F(ConnectionTest, ProvisionsWhenNoEntryIsCmwapAndCleansUpOnClose) {
  RemoveSeededEntry();
  AddEntry(L"Web", L"cmnet");
  setenv("MMS_WAP_PROXY", "192.0.2.7:80", 1);

  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 1);
  const std::vector<std::wstring> docs = cm_test::Documents();
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0], Query(L"Web"));
  EXPECT_EQ(
      docs[1],
      L"<wap-provisioningdoc><characteristic type=\"CM_Networks\">"
      L"<characteristic type=\"中国移动彩信中心\"><parm name=\"DestId\" "
      L"value=\"{D1D06580-C364-55ec-9421-6ACF34129C58}\" /></characteristic>"
      L"</characteristic><characteristic type=\"CM_GPRSEntries\">"
      L"<characteristic type=\"中国移动彩信中心\"><parm name=\"DestId\" "
      L"value=\"{D1D06580-C364-55ec-9421-6ACF34129C58}\" /><characteristic "
      L"type=\"DevSpecificCellular\"><parm name=\"BearerInfoValid\" "
      L"value=\"1\" /><parm name=\"GPRSInfoValid\" value=\"1\" /><parm "
      L"name=\"GPRSInfoProtocolType\" value=\"2\" /><parm "
      L"name=\"GPRSInfoL2ProtocolType\" value=\"PPP\" /><parm "
      L"name=\"GPRSInfoAccessPointName\" value=\"cmwap\" /><parm "
      L"name=\"GPRSInfoAddress\" value=\"\" /><parm "
      L"name=\"GPRSInfoDataCompression\" value=\"1\" /><parm "
      L"name=\"GPRSInfoHeaderCompression\" value=\"1\" /><parm "
      L"name=\"GPRSInfoParameters\" value=\"\" /></characteristic>"
      L"</characteristic></characteristic><characteristic "
      L"type=\"CM_ProxyEntries\"><characteristic type=\"WAP\"><parm "
      L"name=\"SrcId\" value=\"{D1D06580-C364-55ec-9421-6ACF34129C58}\" />"
      L"<parm name=\"DestId\" value=\"{436EF144-B4FB-4863-A041-8F905A62C572}\""
      L" /><parm name=\"Proxy\" value=\"192.0.2.7:80\" /><parm "
      L"name=\"Enable\" value=\"1\" /><parm name=\"Type\" value=\"1\" />"
      L"</characteristic></characteristic></wap-provisioningdoc>");
  EXPECT_EQ(RequestedDestinations(),
            (std::vector<std::wstring>{kZero, kNewNetwork}));
  // Provisioning does not remember its network.
  EXPECT_EQ(CurrentId(), L"");
  EXPECT_TRUE(KeyExists(kTempNetworkKey));
  EXPECT_TRUE(KeyExists(kTempEntryKey));

  EXPECT_EQ(CloseMMSConnection(&pWebConnect), 1);
  EXPECT_EQ(pWebConnect, nullptr);
  EXPECT_EQ(cm_test::LiveConnections(), 0u);
  EXPECT_FALSE(KeyExists(kTempNetworkKey));
  EXPECT_FALSE(KeyExists(kTempEntryKey));
  EXPECT_TRUE(KeyExists(kProxyKey));
}

// The new network kept out of the detailed list is looked for among the
// destinations at indexes 0 to 9 only: "Internet", the fillers, then it.
TEST_F(ConnectionTest, ProvisionedNetworkIsFoundUpToDestinationIndexNine) {
  KeepProvisionedOutOfTheList();
  AddDestinations(8);
  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 1);
  EXPECT_EQ(RequestedDestinations(),
            (std::vector<std::wstring>{kZero, kNewNetwork}));
  EXPECT_EQ(CloseMMSConnection(&pWebConnect), 1);

  cm_test::Reset();
  AddDestinations(9);  // now at index ten
  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 0);
  EXPECT_EQ(RequestedDestinations(), std::vector<std::wstring>{kZero});
  EXPECT_EQ(cm_test::Documents().size(), 2u);
  // A failed attempt keeps its request until the caller releases it.
  EXPECT_NE(pWebConnect, nullptr);
  EXPECT_EQ(CloseMMSConnection(&pWebConnect), 1);
  EXPECT_EQ(cm_test::LiveConnections(), 0u);
}

struct PollCase {
  std::string script;
  int result;
  size_t reads;
};

// Each cycle: one read, 1 s, one read, up to 12 reads while waiting for
// the connection, reads while the phone is busy; connected only counts at
// the start of a cycle, 0x22 and 0x81 end the attempt wherever they show.
TEST_F(ConnectionTest, PollCyclesEndAsTheStatusesSay) {
  std::string twenty_busy;
  for (int i = 0; i < 20; ++i) {
    twenty_busy += "0x26,";
  }
  const PollCase cases[] = {
      {"0x10", 1, 1},
      {"0x22", 0, 1},
      {"0x40,0x40,0x81", 0, 3},  // inside the connection wait
      {"0x20,0x22", 0, 2},       // after the 1 s sleep
      {"0x20,0x20,0x81", 0, 3},  // start of the second cycle
      {"0x20,0x20,0x10", 1, 3},
      {"0x40", 0, 6 * 14},            // the wait is bounded; six cycles
      {twenty_busy + "0x10", 1, 22},  // the phone wait is not bounded
      // Five quiet cycles, then it comes up during the sixth: too late.
      {"0x20,0x20,0x20,0x20,0x20,0x20,0x20,0x20,0x20,0x20,0x20,0x40,0x10", 0,
       13},
  };
  for (const PollCase& c : cases) {
    SCOPED_TRACE(c.script);
    cm_test::Reset();
    const GUID dest =
        AddEntry(L"e", L"x", std::wstring(c.script.begin(), c.script.end()));
    HANDLE handle = nullptr;
    EXPECT_EQ(EstablishMMSConnection(&handle, dest), c.result);
    EXPECT_EQ(cm_test::StatusReads(), c.reads);
    EXPECT_NE(handle, nullptr);  // kept until released, even when failed
    ConnMgrReleaseConnection(handle, 0);
  }
}

TEST_F(ConnectionTest, FailedRequestIsReleasedBeforeTheNextOne) {
  const GUID dead = AddEntry(L"dead", L"x", L"0x22");
  EXPECT_EQ(EstablishMMSConnection(&pWebConnect, dead), 0);
  ASSERT_NE(pWebConnect, nullptr);
  EXPECT_EQ(cm_test::LiveConnections(), 1u);

  // The held request is down: the full path runs and replaces it.
  EXPECT_EQ(OpenMMSConnection(&pWebConnect), 1);
  EXPECT_EQ(cm_test::Requests().size(), 3u);
  EXPECT_EQ(cm_test::LiveConnections(), 1u);
}

TEST_F(ConnectionTest, CloseReturnsOneWhenTheRegistryRefusesDeletion) {
  ASSERT_EQ(OpenMMSConnection(&pWebConnect), 1);
  ASSERT_TRUE(connmgr::WriteTexts(kTempNetworkKey, {{L"DestId", kNewNetwork}}));
  ASSERT_TRUE(connmgr::WriteTexts(kTempEntryKey, {{L"DestId", kNewNetwork}}));

  // Another writer holds the database for longer than the registry waits.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(mms::platform::RegistryDbPath().c_str(), &db),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(CloseMMSConnection(&pWebConnect), 1);
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);

  EXPECT_EQ(pWebConnect, nullptr);
  EXPECT_EQ(cm_test::LiveConnections(), 0u);
  EXPECT_TRUE(KeyExists(kTempNetworkKey));
  EXPECT_TRUE(KeyExists(kTempEntryKey));
  EXPECT_EQ(RemoveMMSConnectionEntries(), 1);
  EXPECT_FALSE(KeyExists(kTempNetworkKey));
  EXPECT_FALSE(KeyExists(kTempEntryKey));
}

}  // namespace
