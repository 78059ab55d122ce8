// sync_internal.h: the state threads, events and waits share.
//
// One process-wide mutex and condition variable guard every event's state,
// every thread's completion and every cancel request. Any change that could
// end a wait (an event set, a thread finished, a cancel requested) happens
// under SyncMutex() and is followed by SyncCondition().notify_all(), so a
// waiter re-checks its object, its deadline and its own cancel flag and
// never misses a wake-up. Both objects are never destroyed, so detached
// threads may still use them while the process exits.
#ifndef MMS_PLATFORM_SYNC_INTERNAL_H_
#define MMS_PLATFORM_SYNC_INTERNAL_H_

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/handle_table.h"

namespace mms::platform {

std::mutex& SyncMutex();
std::condition_variable& SyncCondition();

// A handle WaitForSingleObject accepts.
class Waitable : public HandleObject {
 public:
  // With SyncMutex() held: true when signalled, consuming the signal of an
  // auto-reset object.
  virtual bool TryAcquireLocked() = 0;
};

// What the library knows of a thread it started; shared by the thread
// itself and its handle.
struct ThreadControl {
  std::atomic<bool> cancel_requested{false};  // set once, never cleared
  bool finished = false;                      // guarded by SyncMutex()
  DWORD exit_code = STILL_ACTIVE;             // guarded by SyncMutex()
  DWORD terminate_code = 0;  // guarded by SyncMutex(); valid when cancelled
};

// The control block of the calling thread, or null for threads the library
// did not start (they are never cancelled).
ThreadControl* CurrentThreadControl();

}  // namespace mms::platform

#endif  // MMS_PLATFORM_SYNC_INTERNAL_H_
