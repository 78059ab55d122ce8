// wait.cc: WaitForSingleObject and Sleep, the cancellation points every
// worker thread blocks in.
//
// Both wait on the one sync condition, so an event set, a thread ended or a
// cancel request of the waiting thread wakes them. Timeouts shrink under
// the test time scale; INFINITE stays infinite.
#include <chrono>
#include <thread>

#include "platform/sync_internal.h"
#include "platform/thread.h"
#include "platform/winapi.h"

namespace mms::platform {
namespace {

using Clock = std::chrono::steady_clock;

bool CancelledLocked() {
  ThreadControl* self = CurrentThreadControl();
  return self != nullptr && self->cancel_requested.load();
}

// Waits with SyncMutex() held in lock until ready() or the timeout; throws
// ThreadCancelled (after unlocking) when the caller is asked to end.
template <class Ready>
bool WaitLocked(std::unique_lock<std::mutex>& lock, DWORD timeout_ms,
                Ready ready) {
  const bool forever = timeout_ms == INFINITE;
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::milliseconds(forever ? 0 : ScaledMs(timeout_ms));
  for (;;) {
    if (CancelledLocked()) {
      lock.unlock();
      throw ThreadCancelled{};
    }
    if (ready()) {
      return true;
    }
    if (forever) {
      SyncCondition().wait(lock);
    } else if (SyncCondition().wait_until(lock, deadline) ==
                   std::cv_status::timeout &&
               Clock::now() >= deadline) {
      // One last look, so a signal racing the deadline is not lost.
      if (CancelledLocked()) {
        lock.unlock();
        throw ThreadCancelled{};
      }
      return ready();
    }
  }
}

}  // namespace
}  // namespace mms::platform

DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) {
  using namespace mms::platform;
  std::shared_ptr<Waitable> object = LookupHandle<Waitable>(handle);
  if (object == nullptr) {
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lock(SyncMutex());
  return WaitLocked(lock, timeout_ms,
                    [&object] { return object->TryAcquireLocked(); })
             ? WAIT_OBJECT_0
             : WAIT_TIMEOUT;
}

void Sleep(DWORD ms) {
  using namespace mms::platform;
  if (ms == 0) {
    CancellationPoint();
    std::this_thread::yield();
    return;
  }
  std::unique_lock<std::mutex> lock(SyncMutex());
  (void)WaitLocked(lock, ms, [] { return false; });
}
