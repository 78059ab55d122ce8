// connmgr_test.cc: the Connection Manager stand-in at its calls: what a
// new device offers, the detailed status block, status scripts, and the
// provisioning entry point's effect on the registry and its answers.
#include "connmgr/connmgr.h"

#include <cwchar>
#include <string>
#include <vector>

#include "connmgr/connmgr_entries.h"
#include "platform/registry.h"
#include "support/test_support.h"

namespace mms::platform::connmgr {
namespace {

constexpr wchar_t kGprsKey[] =
    L"Comm\\ConnMgr\\Providers\\{7C4B7A38-5FF7-4bc1-80F6-5DA7870BB1AA}"
    L"\\Connections\\GPRS";

GUID Guid(const wchar_t* text) {
  GUID guid = {};
  EXPECT_TRUE(ParseGuid(text, &guid)) << "bad GUID in test";
  return guid;
}

struct Listed {
  std::wstring name;
  DWORD type;
  std::wstring dest;
};

class ConnMgrTest : public mms::testing::DeviceTest {
 protected:
  void SetUp() override { test::Reset(); }
  void TearDown() override {
    test::Reset();
    DeviceTest::TearDown();
  }

  // The detailed status list, checking that every link and text stays
  // inside the block the sizing call asked for.
  std::vector<Listed> DetailedStatus() {
    DWORD size = 0;
    HRESULT hr = ConnMgrQueryDetailedStatus(nullptr, &size);
    if (hr == S_OK && size == 0) {
      return {};
    }
    EXPECT_EQ(hr, kHresultInsufficientBuffer);
    std::vector<CONNMGR_CONNECTION_DETAILED_STATUS> block(
        size / sizeof(CONNMGR_CONNECTION_DETAILED_STATUS) + 1);
    DWORD too_small = size - 1;
    EXPECT_EQ(ConnMgrQueryDetailedStatus(block.data(), &too_small),
              kHresultInsufficientBuffer);
    EXPECT_EQ(too_small, size);
    EXPECT_EQ(ConnMgrQueryDetailedStatus(block.data(), &size), S_OK);
    const auto* begin = reinterpret_cast<const BYTE*>(block.data());
    const BYTE* end = begin + size;
    std::vector<Listed> listed;
    for (const auto* e = block.data(); e != nullptr; e = e->pNext) {
      const auto* at = reinterpret_cast<const BYTE*>(e);
      if (at < begin || at + sizeof(*e) > end) {
        ADD_FAILURE() << "link outside the block";
        break;
      }
      const auto* text = reinterpret_cast<const BYTE*>(e->szDescription);
      const size_t chars = std::wcslen(e->szDescription) + 1;
      EXPECT_TRUE(text >= begin && text + chars * sizeof(wchar_t) <= end);
      listed.push_back({e->szDescription, e->dwType, GuidText(e->guidDestNet)});
    }
    return listed;
  }

  std::vector<Destination> Destinations() {
    std::vector<Destination> out;
    CONNMGR_DESTINATION_INFO info;
    int index = 0;
    while (ConnMgrEnumDestinations(index, &info) == S_OK) {
      out.push_back({info.szDescription, info.guid});
      ++index;
    }
    EXPECT_EQ(ConnMgrEnumDestinations(index, &info), E_FAIL);
    return out;
  }

  // The statuses a request for dest reports on its first reads.
  std::vector<DWORD> Walk(const GUID& dest, int reads) {
    CONNMGR_CONNECTIONINFO info = {};
    info.cbSize = sizeof(info);
    info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
    info.guidDestNet = dest;
    HANDLE handle = nullptr;
    EXPECT_EQ(ConnMgrEstablishConnection(&info, &handle), S_OK);
    std::vector<DWORD> seen;
    for (int i = 0; i < reads; ++i) {
      DWORD status = 0;
      EXPECT_EQ(ConnMgrConnectionStatus(handle, &status), S_OK);
      seen.push_back(status);
    }
    EXPECT_EQ(ConnMgrReleaseConnection(handle, 0), S_OK);
    DWORD status = 0;
    EXPECT_EQ(ConnMgrConnectionStatus(handle, &status), E_INVALIDARG);
    return seen;
  }

  static std::wstring Process(const std::wstring& doc, HRESULT* hr) {
    wchar_t* answer = reinterpret_cast<wchar_t*>(1);
    *hr = DMProcessConfigXML(doc.c_str(), CFGFLAG_PROCESS, &answer);
    std::wstring text = answer != nullptr ? answer : L"<null>";
    delete[] answer;
    return text;
  }
};

TEST_F(ConnMgrTest, NewDeviceOffersOneCmwapEntryThatConnects) {
  const std::vector<Listed> listed = DetailedStatus();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].name, L"GPRS");
  EXPECT_EQ(listed[0].type, CM_CONNTYPE_CELLULAR);
  EXPECT_EQ(listed[0].dest, kInternetGuid);

  const std::vector<Destination> networks = Destinations();
  ASSERT_EQ(networks.size(), 1u);
  EXPECT_EQ(networks[0].name, kInternetName);
  EXPECT_EQ(GuidText(networks[0].guid), kInternetGuid);

  EXPECT_EQ(
      Walk(Guid(kInternetGuid), 2),
      (std::vector<DWORD>{CONNMGR_STATUS_CONNECTED, CONNMGR_STATUS_CONNECTED}));
}

TEST_F(ConnMgrTest, SeededEntryRemovedStaysRemoved) {
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kGprsKey), ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGprsKey, 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  DWORD size = 123;
  EXPECT_EQ(ConnMgrQueryDetailedStatus(nullptr, &size), S_OK);
  EXPECT_EQ(size, 0u);
}

TEST_F(ConnMgrTest, ProvisioningWritesTheKeysAndListsTheEntry) {
  const std::wstring doc =
      L"<wap-provisioningdoc><characteristic type=\"CM_Networks\">"
      L"<characteristic type=\"Net\"><parm name=\"DestId\" "
      L"value=\"{D1D06580-C364-55ec-9421-6ACF34129C58}\" /></characteristic>"
      L"</characteristic><characteristic type=\"CM_GPRSEntries\">"
      L"<characteristic type=\"Net\"><parm name=\"DestId\" "
      L"value=\"{D1D06580-C364-55ec-9421-6ACF34129C58}\" />"
      L"<characteristic type=\"DevSpecificCellular\">"
      L"<parm name=\"GPRSInfoAccessPointName\" value=\"cmwap\" />"
      L"<parm name=\"GPRSInfoAddress\" value=\"\" /></characteristic>"
      L"</characteristic></characteristic>"
      L"<characteristic type=\"CM_ProxyEntries\"><characteristic type=\"WAP\">"
      L"<parm name=\"SrcId\" value=\"{D1D06580-C364-55ec-9421-6ACF34129C58}\" "
      L"/>"
      L"<parm name=\"Proxy\" value=\"192.0.2.172:80\" /></characteristic>"
      L"</characteristic></wap-provisioningdoc>";
  HRESULT hr = E_FAIL;
  Process(doc, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(test::Documents(), std::vector<std::wstring>{doc});

  std::wstring text;
  EXPECT_TRUE(
      ReadText(std::wstring(kConnectionsKey) + L"\\Net", kApnValue, &text));
  EXPECT_EQ(text, L"cmwap");
  EXPECT_TRUE(ReadText(std::wstring(kConnectionsKey) + L"\\Net",
                       L"GPRSInfoAddress", &text));
  EXPECT_EQ(text, L"");
  EXPECT_TRUE(ReadText(
      L"Comm\\ConnMgr\\Proxies\\WAP\\{D1D06580-C364-55ec-9421-6ACF34129C58}",
      L"Proxy", &text));
  EXPECT_EQ(text, L"192.0.2.172:80");

  const std::wstring made = L"{D1D06580-C364-55EC-9421-6ACF34129C58}";
  std::vector<Listed> listed = DetailedStatus();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[1].name, L"Net");
  EXPECT_EQ(listed[1].dest, made);
  std::vector<Destination> networks = Destinations();
  ASSERT_EQ(networks.size(), 2u);
  EXPECT_EQ(networks[1].name, L"Net");

  // Kept out of the detailed list, the entry is still found by its
  // destination and connects.
  ASSERT_TRUE(WriteDword(kConnMgrKey, kListProvisionedValue, 0));
  listed = DetailedStatus();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].name, L"GPRS");
  EXPECT_EQ(Destinations().size(), 2u);
  EXPECT_EQ(Walk(Guid(made.c_str()), 1), std::vector<DWORD>{0x10});
}

TEST_F(ConnMgrTest, ParmQueryIsAnsweredInPlace) {
  HRESULT hr = E_FAIL;
  const std::wstring answer = Process(
      L"<wap-provisioningdoc><characteristic type=\"CM_GPRSEntries\">"
      L"<characteristic type=\"GPRS\"><characteristic "
      L"type=\"DevSpecificCellular\"><parm-query "
      L"name=\"GPRSInfoAccessPointName\"/></characteristic></characteristic>"
      L"</characteristic></wap-provisioningdoc>",
      &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(answer,
            L"<wap-provisioningdoc><characteristic type=\"CM_GPRSEntries\">"
            L"<characteristic type=\"GPRS\"><characteristic "
            L"type=\"DevSpecificCellular\"><parm "
            L"name=\"GPRSInfoAccessPointName\" value=\"cmwap\"/>"
            L"</characteristic></characteristic></characteristic>"
            L"</wap-provisioningdoc>");
  // A query changes nothing: the entry is not marked as provisioned.
  std::vector<Entry> entries;
  ASSERT_TRUE(ListEntries(&entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(entries[0].provisioned);
}

TEST_F(ConnMgrTest, RefusedDocumentsGiveNoAnswer) {
  const std::wstring unknown_entry =
      L"<wap-provisioningdoc><characteristic type=\"CM_GPRSEntries\">"
      L"<characteristic type=\"nobody\"><parm-query name=\"DestId\"/>"
      L"</characteristic></characteristic></wap-provisioningdoc>";
  const std::wstring unknown_section =
      L"<wap-provisioningdoc><characteristic type=\"CM_Networks\">"
      L"<characteristic type=\"Early\"><parm name=\"DestId\" value=\"x\" />"
      L"</characteristic></characteristic><characteristic type=\"Browser\"/>"
      L"</wap-provisioningdoc>";
  struct Case {
    std::wstring doc;
    HRESULT hr;
  } cases[] = {
      {unknown_entry, E_FAIL},
      {unknown_section, E_FAIL},
      {L"<wap-provisioningdoc><characteristic", E_INVALIDARG},
      {L"<other/>", E_INVALIDARG},
      {L"<wap-provisioningdoc><characteristic type=\"CM_Networks\">"
       L"<characteristic type=\"a\\b\"/></characteristic>"
       L"</wap-provisioningdoc>",
       E_INVALIDARG},
  };
  for (const Case& c : cases) {
    HRESULT hr = S_OK;
    EXPECT_EQ(Process(c.doc, &hr), L"<null>");
    EXPECT_EQ(hr, c.hr);
  }
  // Nothing of a document with an unknown section is applied.
  std::wstring text;
  EXPECT_FALSE(ReadText(std::wstring(kDestinationsKey) + L"\\Early",
                        kDestIdValue, &text));
  wchar_t* answer = nullptr;
  EXPECT_EQ(DMProcessConfigXML(L"<wap-provisioningdoc/>", 0, &answer),
            E_INVALIDARG);
  EXPECT_EQ(answer, nullptr);
}

}  // namespace
}  // namespace mms::platform::connmgr
