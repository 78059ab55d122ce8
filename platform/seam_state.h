// seam_state.h: what the test seams (test_seams.h, thread.h) set and the
// stand-ins read, and what the stand-ins count for them. Only
// test_seams.cc, which the internal static library holds and libmms.so
// does not, sets or reads it.
#ifndef MMS_PLATFORM_SEAM_STATE_H_
#define MMS_PLATFORM_SEAM_STATE_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/winapi.h"

namespace mms::platform::seams {

struct FixedValues {
  std::mutex mu;
  std::optional<SYSTEMTIME> utc;  // guarded by mu
  std::optional<DWORD> ticks;     // guarded by mu
  std::optional<DWORD> random;    // guarded by mu
};
FixedValues& Fixed();

// Thread creations left until the injected failure; 0: none pending.
extern std::atomic<int> thread_fail_countdown;
// Sleeps and timed waits last this times their nominal duration.
extern std::atomic<double> time_scale;
// Directory entries the device file system has read so far.
extern std::atomic<uint64_t> directory_entries_read;

}  // namespace mms::platform::seams

#endif  // MMS_PLATFORM_SEAM_STATE_H_
