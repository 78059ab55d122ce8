// connmgr_entries.h: where the Connection Manager stand-in keeps the
// device's networks, connection entries and proxies in the registry.
//
//   Comm\ConnMgr\Destinations\<name>            DestId (GUID text)
//   Comm\ConnMgr\Providers\{7C4B...}\Connections\<name>
//       DestId, GPRSInfoAccessPointName (and the other cellular parms),
//       ConnType (DWORD, 1 cellular when missing), StatusScript
//   Comm\ConnMgr\Proxies\<type>\<SrcId>          the proxy parms
// Lists come in creation order (the order the keys' values were written).
#ifndef MMS_CONNMGR_CONNMGR_ENTRIES_H_
#define MMS_CONNMGR_CONNMGR_ENTRIES_H_

#include <string>
#include <utility>
#include <vector>

#include "connmgr/connmgr.h"

namespace mms::connmgr {

constexpr wchar_t kConnMgrKey[] = L"Comm\\ConnMgr";
constexpr wchar_t kDestinationsKey[] = L"Comm\\ConnMgr\\Destinations";
constexpr wchar_t kConnectionsKey[] =
    L"Comm\\ConnMgr\\Providers\\{7C4B7A38-5FF7-4bc1-80F6-5DA7870BB1AA}"
    L"\\Connections";
constexpr wchar_t kProxiesKey[] = L"Comm\\ConnMgr\\Proxies";

constexpr wchar_t kDestIdValue[] = L"DestId";
constexpr wchar_t kApnValue[] = L"GPRSInfoAccessPointName";
constexpr wchar_t kConnTypeValue[] = L"ConnType";
constexpr wchar_t kStatusScriptValue[] = L"StatusScript";
// Under kConnMgrKey: 0 keeps entries made by provisioning out of the
// detailed status list (they still lead to their destination).
constexpr wchar_t kListProvisionedValue[] = L"ListProvisioned";
// Set on entries made by provisioning.
constexpr wchar_t kProvisionedValue[] = L"Provisioned";

// The network every new device has, and that the WAP proxy leads to.
constexpr wchar_t kInternetName[] = L"Internet";
constexpr wchar_t kInternetGuid[] = L"{436EF144-B4FB-4863-A041-8F905A62C572}";

struct Entry {
  std::wstring name;  // key name, as spelled
  DWORD type = CM_CONNTYPE_CELLULAR;
  GUID dest = {};             // all zero when DestId is missing or bad
  std::wstring apn;           // empty when missing
  std::vector<DWORD> script;  // CONNMGR_STATUS_*; empty: connected
  bool provisioned = false;
};

struct Destination {
  std::wstring name;
  GUID guid = {};
};

// "{D1D06580-C364-55ec-9421-6ACF34129C58}" <-> GUID; hex in any case.
bool ParseGuid(const std::wstring& text, GUID* guid);
std::wstring GuidText(const GUID& guid);
bool SameGuid(const GUID& a, const GUID& b);

// "0x40,0x40,0x10": statuses separated by commas, decimal or 0x hex.
bool ParseStatusScript(const std::wstring& text, std::vector<DWORD>* script);
std::wstring StatusScriptText(const std::vector<DWORD>& script);

// False when the registry cannot be read.
bool ListEntries(std::vector<Entry>* entries);
bool ListDestinations(std::vector<Destination>* destinations);
// Whether kListProvisionedValue allows provisioned entries in the list.
bool ProvisionedEntriesListed();

// Creates or rewrites the entry's key (DestId, access point name, type and
// status script); false when a write failed.
bool WriteEntry(const Entry& entry);
bool WriteDestination(const Destination& destination);

// Writes REG_SZ / REG_DWORD values, creating the key; false on failure.
bool WriteTexts(
    const std::wstring& key,
    const std::vector<std::pair<std::wstring, std::wstring>>& name_text_pairs);
bool WriteDword(const std::wstring& key, const wchar_t* name, DWORD value);
// Reads a REG_SZ value of an existing key; false when key or value is
// missing or not text.
bool ReadText(const std::wstring& key, const wchar_t* name, std::wstring* text);

// What a new device offers: the "Internet" network and one cellular entry
// "GPRS" with access point "cmwap" leading to it. Run once, when the
// device's registry is first laid out (the registry's new-device seed).
void SeedNewDevice();

}  // namespace mms::connmgr

#endif  // MMS_CONNMGR_CONNMGR_ENTRIES_H_
