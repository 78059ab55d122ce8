// connection.h: the operator packet-data connection that every HTTP
// exchange with the MMS centre needs first.
//
// The destination is the one remembered in "CurrentID", else the first
// cellular entry with access point "cmwap" (then remembered), else a
// temporary network and GPRS entry provisioned under kConnectionName,
// whose keys are removed again before each new connection and on release.
#ifndef MMS_TRANSPORT_CONNECTION_H_
#define MMS_TRANSPORT_CONNECTION_H_

#include <mutex>

#include "connmgr/connmgr.h"
#include "connmgr/mms_entries.h"
#include "mms.h"

namespace mms::transport {
// Longest a connection request can take to come up: six poll cycles of at
// most seven seconds each.
constexpr uint32_t kConnectionLimitMs = 42000;
}  // namespace mms::transport

// The one connection request of the process; null while none is held.
// Guarded by WebConnectMutex().
extern HANDLE pWebConnect;

// Held while pWebConnect is opened, read or released. Taken before the
// client's state mutex when both are needed, never after it.
std::mutex& WebConnectMutex();

// OpenMMSConnection on pWebConnect under its mutex, so overlapping
// transfers neither race on the handle nor request it twice.
int OpenSharedConnection();

// 1 when *connection is (now) connected, 0 when no connection came up.
int OpenMMSConnection(HANDLE* connection);

// Releases *connection, clears it and removes the temporary entries;
// always 1.
int CloseMMSConnection(HANDLE* connection);

// Requests a connection to destination into *connection and polls it for
// at most six cycles: 1 connected, 0 not. A request held in *connection
// is released first.
int EstablishMMSConnection(HANDLE* connection, GUID destination);

// The destination of the first cellular entry whose access point is
// "cmwap", remembered in "CurrentID": 1 found, 0 none.
int FindCmwapConnection(GUID* destination);

// 1 when the GPRS entry's access point name is "cmwap" in any letter case.
int IsCmwapEntry(wchar_t* entry_name);

// Provisions the temporary network, GPRS entry and WAP proxy entry and
// finds the new network: 1 with its GUID, 0 failed.
int ProvisionMMSConnection(GUID* destination);

#endif  // MMS_TRANSPORT_CONNECTION_H_
