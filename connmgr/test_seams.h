// test_seams.h: what the Connection Manager stand-in was asked, for tests.
// Built into the internal static library only, so libmms.so holds none of
// it.
#ifndef MMS_CONNMGR_TEST_SEAMS_H_
#define MMS_CONNMGR_TEST_SEAMS_H_

#include <string>
#include <vector>

#include "connmgr/connmgr.h"

namespace mms::connmgr::test {

// The newest documents (up to 64) passed to DMProcessConfigXML, in call
// order.
std::vector<std::wstring> Documents();
// The newest requests (up to 64) passed to ConnMgrEstablishConnection, in
// call order.
std::vector<CONNMGR_CONNECTIONINFO> Requests();
// ConnMgrConnectionStatus calls so far.
size_t StatusReads();
// Handles established and not released yet.
size_t LiveConnections();
// Forgets the records above and releases every live connection.
void Reset();

}  // namespace mms::connmgr::test

#endif  // MMS_CONNMGR_TEST_SEAMS_H_
