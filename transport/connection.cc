// connection.cc: choosing the destination network, requesting the
// connection from the Connection Manager and polling it until it is up,
// provisioning a temporary network when the device has no "cmwap" entry.
//
// pWebConnect and the temporary entries are shared by the send and receive
// threads; WebConnectMutex guards the handle. Polls sleep through Sleep,
// so a thread asked to end stops at the next one (and lets the mutex go).
#include "transport/connection.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "diag/log.h"
#include "platform/registry.h"
#include "store/registry_values.h"
#include "transport/operator.h"

HANDLE pWebConnect = nullptr;

std::mutex& WebConnectMutex() {
  static std::mutex* mu = new std::mutex;
  return *mu;
}

int OpenSharedConnection() {
  std::lock_guard<std::mutex> lock(WebConnectMutex());
  return OpenMMSConnection(&pWebConnect);
}

namespace {

constexpr wchar_t kCmwap[] = L"cmwap";
constexpr wchar_t kNewNetworkId[] = L"{D1D06580-C364-55ec-9421-6ACF34129C58}";
constexpr wchar_t kProxyTargetId[] = L"{436EF144-B4FB-4863-A041-8F905A62C572}";

// Deleted in this order.
const wchar_t* const kTemporaryKeys[] = {
    L"Comm\\ConnMgr\\Destinations\\中国移动彩信中心",
    L"Comm\\ConnMgr\\Providers\\{7C4B7A38-5FF7-4bc1-80F6-5DA7870BB1AA}"
    L"\\Connections\\中国移动彩信中心",
};

constexpr size_t kQueryChars = 520;  // query buffer, terminator included
constexpr size_t kApnChars = 259;    // longest access point name read
constexpr int kPollCycles = 6;
constexpr int kWaitingPolls = 12;
constexpr DWORD kCycleSleepMs = 1000;
constexpr DWORD kWaitingSleepMs = 500;
constexpr DWORD kPhoneSleepMs = 1000;

// Attribute text: the entry name and proxy come from outside.
std::wstring Escaped(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
      case L'&':
        out += L"&amp;";
        break;
      case L'<':
        out += L"&lt;";
        break;
      case L'>':
        out += L"&gt;";
        break;
      case L'"':
        out += L"&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::wstring Parm(const wchar_t* name, const std::wstring& value) {
  return std::wstring(L"<parm name=\"") + name + L"\" value=\"" + value +
         L"\" />";
}

std::wstring ProvisioningDocument() {
  const std::wstring name = kConnectionName;
  std::wstring doc = L"<wap-provisioningdoc>";
  doc += L"<characteristic type=\"CM_Networks\">";
  doc += L"<characteristic type=\"" + name + L"\">";
  doc += Parm(L"DestId", kNewNetworkId);
  doc += L"</characteristic></characteristic>";
  doc += L"<characteristic type=\"CM_GPRSEntries\">";
  doc += L"<characteristic type=\"" + name + L"\">";
  doc += Parm(L"DestId", kNewNetworkId);
  doc += L"<characteristic type=\"DevSpecificCellular\">";
  doc += Parm(L"BearerInfoValid", L"1");
  doc += Parm(L"GPRSInfoValid", L"1");
  doc += Parm(L"GPRSInfoProtocolType", L"2");
  doc += Parm(L"GPRSInfoL2ProtocolType", L"PPP");
  doc += Parm(L"GPRSInfoAccessPointName", kCmwap);
  doc += Parm(L"GPRSInfoAddress", L"");
  doc += Parm(L"GPRSInfoDataCompression", L"1");
  doc += Parm(L"GPRSInfoHeaderCompression", L"1");
  doc += Parm(L"GPRSInfoParameters", L"");
  doc += L"</characteristic></characteristic></characteristic>";
  // An operator without a WAP proxy gets no proxy entry at all.
  const std::wstring proxy = mms::transport::WapProxy();
  if (!proxy.empty()) {
    doc += L"<characteristic type=\"CM_ProxyEntries\">";
    doc += L"<characteristic type=\"WAP\">";
    doc += Parm(L"SrcId", kNewNetworkId);
    doc += Parm(L"DestId", kProxyTargetId);
    doc += Parm(L"Proxy", Escaped(proxy));
    doc += Parm(L"Enable", L"1");
    doc += Parm(L"Type", L"1");
    doc += L"</characteristic></characteristic>";
  }
  doc += L"</wap-provisioningdoc>";
  return doc;
}

// The access-point query for one entry; false when it does not fit the
// query buffer (the entry is then not asked about).
bool QueryDocument(const wchar_t* entry_name, std::wstring* doc) {
  *doc =
      L"<wap-provisioningdoc><characteristic type=\"CM_GPRSEntries\">"
      L"<characteristic type=\"" +
      Escaped(entry_name) +
      L"\"><characteristic type=\"DevSpecificCellular\">"
      L"<parm-query name=\"GPRSInfoAccessPointName\"/>"
      L"</characteristic></characteristic></characteristic>"
      L"</wap-provisioningdoc>";
  return doc->size() < kQueryChars;
}

DWORD ReadStatus(HANDLE connection) {
  DWORD status = CONNMGR_STATUS_UNKNOWN;
  if (ConnMgrConnectionStatus(connection, &status) != S_OK) {
    return CONNMGR_STATUS_UNKNOWN;
  }
  return status;
}

bool EndsAttempt(DWORD status) {
  return status == CONNMGR_STATUS_CONNECTIONCANCELED ||
         status == CONNMGR_STATUS_WAITINGCONNECTIONABORT;
}

// The detailed status list in one block: the sizing call must ask for
// room, the second call must fill it. The block is a vector of records, so
// it is aligned for them.
enum class Query { kListed, kSizingFailed, kFillFailed };

Query QueryDetailedStatus(
    std::vector<CONNMGR_CONNECTION_DETAILED_STATUS>* block, DWORD* bytes) {
  *bytes = 0;
  if (ConnMgrQueryDetailedStatus(nullptr, bytes) !=
      kHresultInsufficientBuffer) {
    return Query::kSizingFailed;
  }
  const size_t records =
      (*bytes + sizeof(CONNMGR_CONNECTION_DETAILED_STATUS) - 1) /
      sizeof(CONNMGR_CONNECTION_DETAILED_STATUS);
  block->assign(records, CONNMGR_CONNECTION_DETAILED_STATUS{});
  if (records == 0 ||
      ConnMgrQueryDetailedStatus(block->data(), bytes) != S_OK) {
    return Query::kFillFailed;
  }
  return Query::kListed;
}

// Walks the list from its first entry; stops at a link that leaves the
// block or comes back round.
template <typename Match>
const CONNMGR_CONNECTION_DETAILED_STATUS* FindInList(
    const std::vector<CONNMGR_CONNECTION_DETAILED_STATUS>& block, DWORD bytes,
    Match match) {
  const auto begin = reinterpret_cast<uintptr_t>(block.data());
  const uintptr_t end = begin + bytes;
  size_t steps_left = bytes / sizeof(CONNMGR_CONNECTION_DETAILED_STATUS);
  for (const auto* entry = block.data(); entry != nullptr && steps_left > 0;
       entry = entry->pNext, --steps_left) {
    const auto at = reinterpret_cast<uintptr_t>(entry);
    if (at < begin || at > end || end - at < sizeof(*entry) ||
        (at - begin) % alignof(CONNMGR_CONNECTION_DETAILED_STATUS) != 0) {
      return nullptr;
    }
    if (match(*entry)) {
      return entry;
    }
  }
  return nullptr;
}

}  // namespace

int EstablishMMSConnection(HANDLE* connection, GUID destination) {
  if (connection == nullptr) {
    return 0;
  }
  // A request that never came up would otherwise be lost here.
  if (*connection != nullptr) {
    ConnMgrReleaseConnection(*connection, 0);
    *connection = nullptr;
  }
  CONNMGR_CONNECTIONINFO info = {};
  info.cbSize = sizeof(info);
  info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  info.dwFlags = CONNMGR_FLAG_PROXY_HTTP | CONNMGR_FLAG_PROXY_WAP |
                 CONNMGR_FLAG_PROXY_SOCKS4 | CONNMGR_FLAG_PROXY_SOCKS5;
  info.dwPriority = CONNMGR_PRIORITY_USERBACKGROUND;
  info.bExclusive = TRUE;
  info.bDisabled = FALSE;
  info.guidDestNet = destination;
  if (ConnMgrEstablishConnection(&info, connection) != S_OK) {
    return 0;
  }
  for (int cycle = 0; cycle < kPollCycles; ++cycle) {
    DWORD status = ReadStatus(*connection);
    if (status == CONNMGR_STATUS_CONNECTED) {
      LogText(GetLog(), L"Internet connection succesfully completed.");
      return 1;
    }
    if (EndsAttempt(status)) {
      return 0;
    }
    Sleep(kCycleSleepMs);
    status = ReadStatus(*connection);
    for (int poll = 0;
         status == CONNMGR_STATUS_WAITINGCONNECTION && poll < kWaitingPolls;
         ++poll) {
      status = ReadStatus(*connection);
      Sleep(kWaitingSleepMs);
    }
    while (status == CONNMGR_STATUS_WAITINGFORPHONE) {
      status = ReadStatus(*connection);
      Sleep(kPhoneSleepMs);
    }
    if (EndsAttempt(status)) {
      return 0;
    }
  }
  // Connected only counts at the start of a cycle.
  return 0;
}

int IsCmwapEntry(wchar_t* entry_name) {
  std::wstring query;
  if (entry_name == nullptr || !QueryDocument(entry_name, &query)) {
    return 0;
  }
  wchar_t* answer = nullptr;
  (void)DMProcessConfigXML(query.c_str(), CFGFLAG_PROCESS, &answer);
  std::wstring apn;
  if (answer != nullptr) {
    std::wstring text = answer;
    delete[] answer;
    for (wchar_t& c : text) {
      c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    const size_t value = text.find(L"value");
    const size_t open =
        value == std::wstring::npos ? value : text.find(L'"', value);
    const size_t close =
        open == std::wstring::npos ? open : text.find(L'"', open + 1);
    if (close != std::wstring::npos) {
      apn = text.substr(open + 1, std::min(close - open - 1, kApnChars));
    }
  }
  return apn == kCmwap ? 1 : 0;
}

int FindCmwapConnection(GUID* destination) {
  if (destination == nullptr) {
    return 0;
  }
  std::vector<CONNMGR_CONNECTION_DETAILED_STATUS> block;
  DWORD bytes = 0;
  if (QueryDetailedStatus(&block, &bytes) != Query::kListed) {
    return 0;
  }
  const auto* found = FindInList(
      block, bytes, [](const CONNMGR_CONNECTION_DETAILED_STATUS& entry) {
        return entry.dwType == CM_CONNTYPE_CELLULAR &&
               IsCmwapEntry(entry.szDescription) == 1;
      });
  if (found == nullptr) {
    return 0;
  }
  *destination = found->guidDestNet;
  std::wstring key = mms::client::kMmsKey;
  std::wstring name = mms::client::kCurrentId;
  unsigned char bytes16[sizeof(GUID)];
  std::memcpy(bytes16, destination, sizeof(bytes16));
  RegSetBinary(key.data(), name.data(), bytes16);
  return 1;
}

int ProvisionMMSConnection(GUID* destination) {
  if (destination == nullptr) {
    return 0;
  }
  const std::wstring doc = ProvisioningDocument();
  wchar_t* answer = nullptr;
  const HRESULT hr = DMProcessConfigXML(doc.c_str(), CFGFLAG_PROCESS, &answer);
  delete[] answer;
  if (hr != S_OK) {
    return 0;
  }
  std::vector<CONNMGR_CONNECTION_DETAILED_STATUS> block;
  DWORD bytes = 0;
  const Query listed = QueryDetailedStatus(&block, &bytes);
  if (listed == Query::kSizingFailed) {
    return 0;
  }
  if (listed == Query::kListed) {
    const auto* found = FindInList(
        block, bytes, [](const CONNMGR_CONNECTION_DETAILED_STATUS& entry) {
          return entry.dwType == CM_CONNTYPE_CELLULAR &&
                 entry.szDescription != nullptr &&
                 std::wcscmp(entry.szDescription, kConnectionName) == 0;
        });
    if (found != nullptr) {
      *destination = found->guidDestNet;
      return 1;
    }
  }
  // A new network may show up among the destinations before it has a
  // connection entry in the list.
  for (int index = 0; index < 10; ++index) {
    CONNMGR_DESTINATION_INFO info = {};
    (void)ConnMgrEnumDestinations(index, &info);
    info.szDescription[CONNMGR_MAX_DESC - 1] = L'\0';
    if (std::wcscmp(info.szDescription, kConnectionName) == 0) {
      *destination = info.guid;
      return 1;
    }
  }
  return 0;
}

int RemoveMMSConnectionEntries(void) {
  for (const wchar_t* path : kTemporaryKeys) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS) {
      continue;
    }
    RegCloseKey(key);
    if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, path) != ERROR_SUCCESS) {
      return 0;
    }
  }
  return 1;
}

int OpenMMSConnection(HANDLE* connection) {
  if (connection == nullptr) {
    return 0;
  }
  if (*connection != nullptr) {
    DWORD status = CONNMGR_STATUS_UNKNOWN;
    if (ConnMgrConnectionStatus(*connection, &status) == S_OK &&
        status == CONNMGR_STATUS_CONNECTED) {
      return 1;
    }
  }
  (void)RemoveMMSConnectionEntries();
  GUID destination = {};
  std::wstring key = mms::client::kMmsKey;
  std::wstring name = mms::client::kCurrentId;
  RegGetValue(key.data(), name.data(), &destination, sizeof(destination));
  if (EstablishMMSConnection(connection, destination) == 1) {
    return 1;
  }
  destination = GUID{};
  if (FindCmwapConnection(&destination) == 0 &&
      ProvisionMMSConnection(&destination) == 0) {
    return 0;
  }
  return EstablishMMSConnection(connection, destination);
}

int CloseMMSConnection(HANDLE* connection) {
  if (connection != nullptr) {
    if (*connection != nullptr) {
      ConnMgrReleaseConnection(*connection, 0);
    }
    *connection = nullptr;
  }
  (void)RemoveMMSConnectionEntries();
  return 1;
}
