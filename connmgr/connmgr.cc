// connmgr.cc: connection requests, their status walk, the detailed status
// list and the destination list of the Connection Manager stand-in.
//
// A request copies its entry's status script when it is made; each status
// read takes the next step and the last step repeats. Requests live in the
// platform handle table, so a released or made-up handle is refused rather
// than dereferenced.
#include "connmgr/connmgr.h"

#include <cstring>
#include <mutex>

#include "connmgr/connmgr_entries.h"
#include "connmgr/seam_state.h"
#include "platform/handle_table.h"
#include "platform/thread.h"

namespace mms::connmgr {

using platform::AddHandle;

namespace {

bool IsZero(const GUID& guid) {
  static const GUID kZero = {};
  return SameGuid(guid, kZero);
}

// The status walk of a request for destination: that of the first entry
// leading there; canceled at once when none does.
bool ScriptFor(const CONNMGR_CONNECTIONINFO& info, std::vector<DWORD>* script) {
  *script = {CONNMGR_STATUS_CONNECTIONCANCELED};
  if ((info.dwParams & CONNMGR_PARAM_GUIDDESTNET) == 0 ||
      IsZero(info.guidDestNet)) {
    return true;
  }
  std::vector<Entry> entries;
  if (!ListEntries(&entries)) {
    return false;
  }
  for (const Entry& entry : entries) {
    if (SameGuid(entry.dest, info.guidDestNet)) {
      *script = entry.script.empty()
                    ? std::vector<DWORD>{CONNMGR_STATUS_CONNECTED}
                    : entry.script;
      break;
    }
  }
  return true;
}

}  // namespace

namespace seams {
std::mutex mu;
std::vector<CONNMGR_CONNECTIONINFO> requests;
std::vector<std::wstring> documents;
size_t status_reads = 0;
}  // namespace seams

void RecordDocument(const std::wstring& document) {
  std::lock_guard<std::mutex> lock(seams::mu);
  seams::Keep(&seams::documents, document);
}

}  // namespace mms::connmgr

using namespace mms::connmgr;

HRESULT ConnMgrEstablishConnection(CONNMGR_CONNECTIONINFO* info,
                                   HANDLE* connection) {
  if (info == nullptr || connection == nullptr ||
      info->cbSize != sizeof(CONNMGR_CONNECTIONINFO)) {
    return E_INVALIDARG;
  }
  {
    std::lock_guard<std::mutex> lock(seams::mu);
    seams::Keep(&seams::requests, *info);
  }
  auto made = std::make_shared<Connection>();
  if (!ScriptFor(*info, &made->script)) {
    return E_FAIL;
  }
  *connection = AddHandle(std::move(made));
  return S_OK;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  mms::platform::CancellationPoint();
  if (status == nullptr) {
    return E_INVALIDARG;
  }
  std::shared_ptr<Connection> held =
      mms::platform::LookupHandle<Connection>(connection);
  if (held == nullptr) {
    return E_INVALIDARG;
  }
  std::lock_guard<std::mutex> lock(seams::mu);
  ++seams::status_reads;
  Connection& c = *held;
  *status = c.script[c.next];
  if (c.next + 1 < c.script.size()) {
    ++c.next;
  }
  return S_OK;
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG /*cache_time*/) {
  return mms::platform::TakeHandle<Connection>(connection) != nullptr
             ? S_OK
             : E_INVALIDARG;
}

HRESULT ConnMgrQueryDetailedStatus(CONNMGR_CONNECTION_DETAILED_STATUS* buffer,
                                   DWORD* size) {
  if (size == nullptr) {
    return E_INVALIDARG;
  }
  std::vector<Entry> all;
  if (!ListEntries(&all)) {
    return E_FAIL;
  }
  const bool list_provisioned = ProvisionedEntriesListed();
  std::vector<Entry> entries;
  size_t needed = 0;
  for (const Entry& entry : all) {
    if (entry.provisioned && !list_provisioned) {
      continue;
    }
    entries.push_back(entry);
    needed += sizeof(CONNMGR_CONNECTION_DETAILED_STATUS) +
              (entry.name.size() + 1) * sizeof(wchar_t);
  }
  if (needed > 0xFFFFFFFFu) {
    return E_OUTOFMEMORY;
  }
  if (buffer == nullptr || *size < needed) {
    *size = static_cast<DWORD>(needed);
    return entries.empty() ? S_OK : kHresultInsufficientBuffer;
  }
  // Records first, then their descriptions: the record size keeps the
  // texts aligned for wchar_t.
  static_assert(
      sizeof(CONNMGR_CONNECTION_DETAILED_STATUS) % alignof(wchar_t) == 0,
      "descriptions follow the records");
  std::memset(static_cast<void*>(buffer), 0, needed);
  auto* text = reinterpret_cast<wchar_t*>(buffer + entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    CONNMGR_CONNECTION_DETAILED_STATUS& record = buffer[i];
    record.pNext = i + 1 < entries.size() ? &buffer[i + 1] : nullptr;
    record.dwVer = 1;
    record.dwType = entries[i].type;
    record.guidDestNet = entries[i].dest;
    record.dwConnectionStatus = CONNMGR_STATUS_DISCONNECTED;
    record.szDescription = text;
    std::wmemcpy(text, entries[i].name.c_str(), entries[i].name.size() + 1);
    text += entries[i].name.size() + 1;
  }
  *size = static_cast<DWORD>(needed);
  return S_OK;
}

HRESULT ConnMgrEnumDestinations(int index, CONNMGR_DESTINATION_INFO* info) {
  if (info == nullptr || index < 0) {
    return E_INVALIDARG;
  }
  std::vector<Destination> destinations;
  if (!ListDestinations(&destinations)) {
    return E_FAIL;
  }
  if (static_cast<size_t>(index) >= destinations.size()) {
    return E_FAIL;
  }
  const Destination& d = destinations[static_cast<size_t>(index)];
  std::memset(static_cast<void*>(info), 0, sizeof(*info));
  info->guid = d.guid;
  const size_t chars = std::min<size_t>(d.name.size(), CONNMGR_MAX_DESC - 1);
  std::wmemcpy(info->szDescription, d.name.c_str(), chars);
  info->fSecure = FALSE;
  return S_OK;
}
