// seam_state.h: what the Connection Manager stand-in keeps for the test
// seams (connmgr/test_seams.h): the requests, documents and status reads it
// was given, and the kind of its connection handles. Only
// connmgr/test_seams.cc, which the internal static library holds and
// libmms.so does not, reads it.
#ifndef MMS_CONNMGR_SEAM_STATE_H_
#define MMS_CONNMGR_SEAM_STATE_H_

#include <mutex>
#include <string>
#include <vector>

#include "connmgr/connmgr.h"
#include "platform/handle_table.h"

namespace mms::connmgr {

// A connection request: the status script it walks.
struct Connection : platform::HandleObject {
  bool ClosedByCloseHandle() const override { return false; }
  std::vector<DWORD> script;  // never empty; guarded by seams::mu
  size_t next = 0;            // step the next status read returns; mu
};

namespace seams {

// The stand-in is in every build, so it keeps only the newest requests and
// documents: enough for a test to read back, never a growing history.
constexpr size_t kKept = 64;

// Appends record, dropping the oldest beyond kKept; the caller holds mu.
template <typename T>
void Keep(std::vector<T>* records, const T& record) {
  if (records->size() >= kKept) {
    records->erase(records->begin());
  }
  records->push_back(record);
}

extern std::mutex mu;
extern std::vector<CONNMGR_CONNECTIONINFO> requests;  // guarded by mu
extern std::vector<std::wstring> documents;           // guarded by mu
extern size_t status_reads;                           // guarded by mu

}  // namespace seams
}  // namespace mms::connmgr

#endif  // MMS_CONNMGR_SEAM_STATE_H_
