// thread.cc: CreateThread, TerminateThread, GetExitCodeThread and the
// cancellation checks of thread.h.
//
// Each thread runs in a trampoline that catches ThreadCancelled (only that)
// and records the exit code. TerminateThread sets the thread's cancel flag,
// wakes every waiter and blocks until the trampoline has finished; a thread
// that never reaches a blocking point keeps TerminateThread waiting, which
// is the price of never killing a thread mid-step. Closing the handle of a
// running thread detaches it: it runs on and its resources go when it ends.
#include "platform/thread.h"

#include <thread>
#include <vector>

#include "platform/seam_state.h"
#include "platform/sync_internal.h"
#include "platform/winapi.h"

namespace mms::platform {
namespace {

thread_local std::shared_ptr<ThreadControl> t_self;
std::atomic<DWORD> g_next_thread_id{1};
// Threads started and not finished; guarded by SyncMutex(), never
// destroyed (threads may finish while the process exits).
std::vector<std::shared_ptr<ThreadControl>>& LiveThreads() {
  static auto* live = new std::vector<std::shared_ptr<ThreadControl>>;
  return *live;
}

void ForgetLocked(const ThreadControl* control) {
  auto& live = LiveThreads();
  for (auto it = live.begin(); it != live.end(); ++it) {
    if (it->get() == control) {
      live.erase(it);
      return;
    }
  }
}

// True when this creation is the one a test asked to fail.
bool InjectedFailure() {
  int left = seams::thread_fail_countdown.load();
  while (left > 0) {
    if (seams::thread_fail_countdown.compare_exchange_weak(left, left - 1)) {
      return left == 1;
    }
  }
  return false;
}

class ThreadObject : public Waitable {
 public:
  ThreadObject(std::shared_ptr<ThreadControl> control, std::thread thread)
      : control_(std::move(control)), thread_(std::move(thread)) {}

  ~ThreadObject() override {
    if (!thread_.joinable()) {
      return;
    }
    bool finished;
    {
      std::lock_guard<std::mutex> lock(SyncMutex());
      finished = control_->finished;
    }
    // A finished trampoline returns at once, so joining is short; a running
    // thread (or one closing its own handle) is let go.
    if (finished && thread_.get_id() != std::this_thread::get_id()) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

  bool TryAcquireLocked() override { return control_->finished; }

  ThreadControl* control() const { return control_.get(); }

 private:
  const std::shared_ptr<ThreadControl> control_;
  std::thread thread_;
};

void Trampoline(std::shared_ptr<ThreadControl> control,
                LPTHREAD_START_ROUTINE start, void* parameter) {
  t_self = control;
  DWORD code = 0;
  try {
    code = start(parameter);
  } catch (const ThreadCancelled&) {
    // Unwound from a blocking point; the exit code is TerminateThread's.
  }
  {
    std::lock_guard<std::mutex> lock(SyncMutex());
    control->exit_code =
        control->cancel_requested ? control->terminate_code : code;
    control->finished = true;
    ForgetLocked(control.get());
  }
  SyncCondition().notify_all();
  t_self.reset();
}

}  // namespace

std::mutex& SyncMutex() {
  static std::mutex* mu = new std::mutex;
  return *mu;
}

std::condition_variable& SyncCondition() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

ThreadControl* CurrentThreadControl() { return t_self.get(); }

bool CancelRequested() {
  ThreadControl* self = t_self.get();
  return self != nullptr && self->cancel_requested.load();
}

void CancellationPoint() {
  if (CancelRequested()) {
    throw ThreadCancelled{};
  }
}

void RequestEndOfAllThreads() {
  {
    std::lock_guard<std::mutex> lock(SyncMutex());
    for (const auto& control : LiveThreads()) {
      if (!control->cancel_requested) {
        control->terminate_code = 0;
        control->cancel_requested = true;
      }
    }
  }
  SyncCondition().notify_all();
}

namespace seams {
std::atomic<int> thread_fail_countdown{0};
}  // namespace seams

}  // namespace mms::platform

using mms::platform::LookupHandle;
using mms::platform::SyncCondition;
using mms::platform::SyncMutex;
using mms::platform::ThreadControl;
using mms::platform::ThreadObject;

HANDLE CreateThread(void* /*security*/, size_t /*stack_size*/,
                    LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD /*flags*/, DWORD* thread_id) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (mms::platform::InjectedFailure()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto control = std::make_shared<ThreadControl>();
  {
    std::lock_guard<std::mutex> lock(SyncMutex());
    mms::platform::LiveThreads().push_back(control);
  }
  std::thread thread;
  try {
    thread = std::thread(mms::platform::Trampoline, control, start, parameter);
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(SyncMutex());
    mms::platform::ForgetLocked(control.get());
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (thread_id != nullptr) {
    *thread_id = mms::platform::g_next_thread_id++;
  }
  return mms::platform::AddHandle(
      std::make_shared<ThreadObject>(std::move(control), std::move(thread)));
}

BOOL TerminateThread(HANDLE thread, DWORD exit_code) {
  std::shared_ptr<ThreadObject> object = LookupHandle<ThreadObject>(thread);
  if (object == nullptr) {
    return FALSE;
  }
  ThreadControl* control = object->control();
  if (control == mms::platform::CurrentThreadControl()) {
    // The caller would wait for itself.
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::unique_lock<std::mutex> lock(SyncMutex());
  if (control->finished) {
    return TRUE;
  }
  if (!control->cancel_requested) {
    control->terminate_code = exit_code;
    control->cancel_requested = true;
  }
  SyncCondition().notify_all();
  // Not a cancellation point: a half-ended target would be worse.
  SyncCondition().wait(lock, [control] { return control->finished; });
  return TRUE;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code) {
  std::shared_ptr<ThreadObject> object = LookupHandle<ThreadObject>(thread);
  if (object == nullptr) {
    return FALSE;
  }
  if (exit_code == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(SyncMutex());
  *exit_code = object->control()->exit_code;
  return TRUE;
}
