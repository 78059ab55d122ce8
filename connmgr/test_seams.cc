// test_seams.cc: the readers of the Connection Manager's test seams, for
// the internal static library only.
#include "connmgr/test_seams.h"

#include "connmgr/seam_state.h"

namespace mms::connmgr::test {

std::vector<std::wstring> Documents() {
  std::lock_guard<std::mutex> lock(seams::mu);
  return seams::documents;
}

std::vector<CONNMGR_CONNECTIONINFO> Requests() {
  std::lock_guard<std::mutex> lock(seams::mu);
  return seams::requests;
}

size_t StatusReads() {
  std::lock_guard<std::mutex> lock(seams::mu);
  return seams::status_reads;
}

size_t LiveConnections() {
  return platform::OpenHandleCount(platform::IsKind<Connection>);
}

void Reset() {
  platform::CloseHandlesOfKind(platform::IsKind<Connection>);
  std::lock_guard<std::mutex> lock(seams::mu);
  seams::requests.clear();
  seams::documents.clear();
  seams::status_reads = 0;
}

}  // namespace mms::connmgr::test
