// time_scale.cc: the test time scale that shrinks sleeps and timed waits
// (set by SetTimeScaleForTest, in test_seams.cc).
//
// Production keeps 1.0. INFINITE (0xFFFFFFFF) stays infinite, a finite
// duration never becomes it, and a nonzero duration never shrinks to zero,
// so a timed wait still yields.
#include <atomic>
#include <cmath>

#include "platform/seam_state.h"
#include "platform/thread.h"

namespace mms::platform {
namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // INFINITE of winapi.h

}  // namespace

namespace seams {
std::atomic<double> time_scale{1.0};
}  // namespace seams

double TimeScale() { return seams::time_scale.load(); }

uint32_t ScaledMs(uint32_t nominal_ms) {
  double scale = seams::time_scale.load();
  if (scale == 1.0 || nominal_ms == 0 || nominal_ms == kInfinite) {
    return nominal_ms;
  }
  double scaled = std::ceil(static_cast<double>(nominal_ms) * scale);
  if (scaled >= static_cast<double>(kInfinite)) {
    return kInfinite - 1;
  }
  return scaled < 1.0 ? 1u : static_cast<uint32_t>(scaled);
}

}  // namespace mms::platform
