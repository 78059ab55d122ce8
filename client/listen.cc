// listen.cc: Start, Stop, the listen thread that holds the MMS content
// type open, and HandMessage, to which it hands every push: the push is
// read (push/dispatch.h), its prompt queued (a prompt never holds up the
// pushes behind it) and its values published (store/push_values.h).
//
// Each listen thread owns its object from start to end and deletes it as
// it unwinds; g_pMMS only names the running one. Start and Stop are
// serialised by their own mutex, held across the thread's start and end,
// so at most one listen thread exists at any moment. Stop ends the listen
// thread at its blocking point (the wait for a push or a prompt); the push
// router registration and handle stay as the listener left them. Stop also
// ends every running retrieval, its transfer and its thread (the state goes
// idle, so a waiting request starts at once); each receive thread frees its
// own buffer as it unwinds.
#include <memory>
#include <new>
#include <utility>

#include "client/prompts.h"
#include "client/threads.h"
#include "diag/log.h"
#include "mms.h"
#include "platform/owned.h"
#include "platform/prompt.h"
#include "platform/winapi.h"
#include "push/dispatch.h"
#include "push/wap_push.h"
#include "store/push_values.h"

namespace {

constexpr unsigned long kWaitForever = 0xFFFFFFFFul;

// Held for the whole of Start and Stop. Never taken by a listen thread, so
// Stop may end one while holding it.
std::mutex& LifecycleMutex() {
  static std::mutex* mu = new std::mutex;
  return *mu;
}

// Publishes the listen thread's object in g_pMMS for as long as the thread
// runs; the thread's end (or its unwinding) withdraws it.
class PublishedListener {
 public:
  explicit PublishedListener(CMMS* listener) : listener_(listener) {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    g_pMMS = listener_;
  }
  ~PublishedListener() {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    if (g_pMMS == listener_) {
      g_pMMS = nullptr;
    }
  }
  PublishedListener(const PublishedListener&) = delete;
  PublishedListener& operator=(const PublishedListener&) = delete;

 private:
  CMMS* const listener_;
};

// True while the thread behind handle has not ended.
bool StillRunning(HANDLE thread) {
  DWORD code = 0;
  return GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
}

}  // namespace

DWORD ListenThreadProc(void* /*unused*/) {
  mms::client::WorkerScope scope(mms::client::WorkerKind::kService);
  // Declared before the publication, so it is withdrawn before the object
  // goes.
  std::unique_ptr<CMMS> listener(new (std::nothrow) CMMS());
  if (listener == nullptr) {
    return static_cast<DWORD>(-1);
  }
  PublishedListener published(listener.get());
  // With an infinite wait this returns only when the push router fails.
  const int result = listener->GetMMS_WapPush(kWaitForever);
  if (result == 1) {
    MessageBoxW(nullptr, L"MMS already opened", L"Prompt", MB_OK);
  } else if (result == -1) {
    MessageBoxW(nullptr, L"PUSHRTR_E_EXCEPTION", L"Prompt", MB_OK);
  }
  return static_cast<DWORD>(result);
}

int CMMS::Start(void) {
  std::lock_guard<std::mutex> lifecycle(LifecycleMutex());
  HANDLE ended = nullptr;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    if (g_hListenMMS != nullptr && StillRunning(g_hListenMMS)) {
      return 0;  // already listening; a second listener would fight it
    }
    ended = std::exchange(g_hListenMMS, nullptr);
  }
  if (ended != nullptr) {
    CloseHandle(ended);
  }
  HANDLE thread = mms::client::StartWorker(ListenThreadProc, nullptr,
                                           mms::client::WorkerKind::kService);
  if (thread == nullptr) {
    return -1;
  }
  std::lock_guard<std::mutex> lock(mms::client::StateMutex());
  g_hListenMMS = thread;
  return 0;
}

int CMMS::Stop(void) {
  std::lock_guard<std::mutex> lifecycle(LifecycleMutex());
  HANDLE listen = nullptr;
  bool had_listener = false;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    listen = std::exchange(g_hListenMMS, nullptr);
    had_listener = g_pMMS != nullptr;
  }
  if (listen != nullptr) {
    LogText(GetLog(), L"g_hListenMMS");
    TerminateThread(listen, 0);  // returns once the thread has ended
    LogText(GetLog(), L"TerminateThread");
    CloseHandle(listen);
  }
  bool had_name = false;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    had_name = std::exchange(g_MMSName, nullptr) != nullptr;
    // A listen thread that ended by itself withdrew its object already.
    had_listener = std::exchange(g_pMMS, nullptr) != nullptr || had_listener;
  }
  if (had_name) {
    // The buffer belongs to the receive thread that still runs on it.
    LogText(GetLog(), L"g_MMSName");
  }
  if (had_listener) {
    // Deleted by its thread as it ended.
    LogText(GetLog(), L"g_pMMS");
  }
  mms::client::EndPrompts();
  mms::client::EndEveryRetrieval();
  LogText(GetLog(), L"RemoveRegListened");
  LogText(GetLog(), L"finished");
  return 0;
}

int CMMS::HandMessage(tagPushMsg* push) {
  mms::push::PushOutcome outcome;
  {
    // Freed before a prompt is queued: nothing here waits on one.
    mms::platform::Owned<WapPush_Message, mms::push::FreeWapPushMessage>
        message(DecodeWapPush(push));
    if (message == nullptr) {
      return -1;
    }
    mms::push::ReadPush(*message, &outcome);
  }
  if (outcome.prompt != nullptr) {
    mms::client::QueuePrompt(outcome.prompt);
    LogText(GetLog(), L"%ls\n", outcome.prompt);
  }
  mms::store::PublishPush(outcome);
  return 0;
}
