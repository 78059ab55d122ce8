// connection.cc: choosing the destination network, requesting the
// connection from the Connection Manager and polling it until it is up,
// provisioning a temporary network when the device has no "cmwap" entry
// (the entries themselves are written by connmgr/mms_entries.h).
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

constexpr int kPollCycles = 6;
constexpr int kWaitingPolls = 12;
constexpr DWORD kCycleSleepMs = 1000;
constexpr DWORD kWaitingSleepMs = 500;
constexpr DWORD kPhoneSleepMs = 1000;

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
  std::wstring apn;
  return entry_name != nullptr &&
                 mms::connmgr::AccessPointName(entry_name, &apn) &&
                 apn == mms::connmgr::kCmwap
             ? 1
             : 0;
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
  mms::connmgr::RememberDestination(*destination);
  return 1;
}

int ProvisionMMSConnection(GUID* destination) {
  if (destination == nullptr) {
    return 0;
  }
  if (mms::connmgr::ProvisionTemporaryEntries(mms::transport::WapProxy()) !=
      S_OK) {
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
  GUID destination = mms::connmgr::RememberedDestination();
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
