// event.cc: manual- and auto-reset events.
//
// An auto-reset event releases one waiter per SetEvent: the first waiter
// to re-check it under the sync mutex consumes the signal. Names are
// ignored; every event is private to its creator.
#include "platform/sync_internal.h"
#include "platform/winapi.h"

namespace mms::platform {
namespace {

class EventObject : public Waitable {
 public:
  EventObject(bool manual_reset, bool signalled)
      : manual_reset_(manual_reset), signalled_(signalled) {}

  bool TryAcquireLocked() override {
    if (!signalled_) {
      return false;
    }
    if (!manual_reset_) {
      signalled_ = false;
    }
    return true;
  }

  void SetLocked(bool signalled) { signalled_ = signalled; }

 private:
  const bool manual_reset_;
  bool signalled_;  // guarded by SyncMutex()
};

BOOL Change(HANDLE event, bool signalled) {
  std::shared_ptr<EventObject> object = LookupHandle<EventObject>(event);
  if (object == nullptr) {
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(SyncMutex());
    object->SetLocked(signalled);
  }
  if (signalled) {
    SyncCondition().notify_all();
  }
  return TRUE;
}

}  // namespace
}  // namespace mms::platform

HANDLE CreateEventW(void* /*security*/, BOOL manual_reset, BOOL initial_state,
                    const wchar_t* /*name*/) {
  return mms::platform::AddHandle(std::make_shared<mms::platform::EventObject>(
      manual_reset != FALSE, initial_state != FALSE));
}

BOOL SetEvent(HANDLE event) { return mms::platform::Change(event, true); }

BOOL ResetEvent(HANDLE event) { return mms::platform::Change(event, false); }
