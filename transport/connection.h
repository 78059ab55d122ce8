// connection.h: the operator packet-data connection that every HTTP
// exchange with the MMS centre needs first.
#ifndef MMS_TRANSPORT_CONNECTION_H_
#define MMS_TRANSPORT_CONNECTION_H_

#include "mms.h"

// The one connection request of the process; null while none is held.
extern HANDLE pWebConnect;

// 1 when *connection is (now) connected, 0 when no connection came up.
int OpenMMSConnection(HANDLE* connection);

// Releases *connection, clears it and removes the temporary entries;
// always 1.
int CloseMMSConnection(HANDLE* connection);

#endif  // MMS_TRANSPORT_CONNECTION_H_
