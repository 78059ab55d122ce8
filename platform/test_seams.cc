// test_seams.cc: the setters and readers of the test seams. Built into the
// internal static library only, so libmms.so holds none of them.
#include "platform/test_seams.h"

#include "platform/seam_state.h"
#include "platform/thread.h"

namespace mms::platform {

void SetTimeScaleForTest(double scale) {
  seams::time_scale.store(scale > 0.0 ? scale : 1.0);
}

namespace test {

void FixClock(const SYSTEMTIME& utc) {
  std::lock_guard<std::mutex> lock(seams::Fixed().mu);
  seams::Fixed().utc = utc;
}

void FixTickCount(DWORD ticks) {
  std::lock_guard<std::mutex> lock(seams::Fixed().mu);
  seams::Fixed().ticks = ticks;
}

void FixRandom(DWORD value) {
  std::lock_guard<std::mutex> lock(seams::Fixed().mu);
  seams::Fixed().random = value;
}

void FailNthThreadCreation(int nth) {
  seams::thread_fail_countdown = nth > 0 ? nth : 0;
}

uint64_t DirectoryEntriesRead() {
  return seams::directory_entries_read.load(std::memory_order_relaxed);
}

void ResetSeams() {
  {
    std::lock_guard<std::mutex> lock(seams::Fixed().mu);
    seams::Fixed().utc.reset();
    seams::Fixed().ticks.reset();
    seams::Fixed().random.reset();
  }
  FailNthThreadCreation(0);
}

}  // namespace test
}  // namespace mms::platform
