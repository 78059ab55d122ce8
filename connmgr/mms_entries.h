// mms_entries.h: what the library keeps in the Connection Manager for
// itself: the temporary network and GPRS entry it provisions when the
// device has no "cmwap" entry, their removal, and the destination it
// remembers in "CurrentID". The connection code (transport/connection.h)
// only calls these; the writes are here.
#ifndef MMS_CONNMGR_MMS_ENTRIES_H_
#define MMS_CONNMGR_MMS_ENTRIES_H_

#include <string>

#include "connmgr/connmgr.h"

// Name of the provisioned network and GPRS entry, and the description the
// searches look for.
constexpr wchar_t kConnectionName[] = L"中国移动彩信中心";

namespace mms::connmgr {

// The key the library keeps its values under (the status values of
// store/registry_values.h), and the connection's own value there.
constexpr wchar_t kMmsKey[] = L"software\\varnholt\\MMS";
constexpr wchar_t kCurrentId[] = L"CurrentID";

// The access point name the library's connection goes through.
constexpr wchar_t kCmwap[] = L"cmwap";

// Provisions the temporary network, GPRS entry and, when proxy is not
// empty, a WAP proxy entry: the configuration service's result.
HRESULT ProvisionTemporaryEntries(const std::wstring& proxy);

// The GPRS entry's access point name, lowered (at most 259 characters);
// false when the query for the entry is too long to ask.
bool AccessPointName(const wchar_t* entry_name, std::wstring* apn);

// "CurrentID": all zeros when it was never written.
GUID RememberedDestination();
void RememberDestination(const GUID& destination);

}  // namespace mms::connmgr

// Deletes the temporary network's and GPRS entry's keys, in that order:
// 1 done (or nothing to delete), 0 a deletion failed.
int RemoveMMSConnectionEntries(void);

#endif  // MMS_CONNMGR_MMS_ENTRIES_H_
