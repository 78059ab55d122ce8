// listen.cc: Start, Stop and the listen thread that holds the MMS content
// type open and hands every push to HandMessage.
//
// Stop ends the listen thread at its blocking point (the wait for a push
// or a prompt) and frees its object; the push router registration and
// handle stay as the listener left them. Receive threads run on: Stop only
// forgets the newest one's buffer, which that thread frees when it ends.
#include <memory>
#include <new>
#include <utility>

#include "client/threads.h"
#include "diag/log.h"
#include "mms.h"
#include "platform/prompt.h"
#include "platform/winapi.h"

namespace {

constexpr unsigned long kWaitForever = 0xFFFFFFFFul;

// True while the thread behind handle has not ended.
bool StillRunning(HANDLE thread) {
  DWORD code = 0;
  return GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
}

}  // namespace

DWORD ListenThreadProc(void* /*unused*/) {
  mms::client::WorkerScope scope;
  // Start lets only one listen thread run, so an earlier object belongs to
  // a thread that has ended.
  CMMS* earlier = nullptr;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    earlier = std::exchange(g_pMMS, nullptr);
  }
  delete earlier;
  CMMS* listener = new (std::nothrow) CMMS();
  if (listener == nullptr) {
    return static_cast<DWORD>(-1);
  }
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    g_pMMS = listener;
  }
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
  HANDLE ended = nullptr;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    if (g_hListenMMS != nullptr) {
      if (StillRunning(g_hListenMMS)) {
        return 0;  // already listening; a second listener would fight it
      }
      ended = std::exchange(g_hListenMMS, nullptr);
    }
    g_hListenMMS = mms::client::StartWorker(ListenThreadProc, nullptr);
    if (g_hListenMMS == nullptr) {
      return -1;
    }
  }
  if (ended != nullptr) {
    CloseHandle(ended);
  }
  return 0;
}

int CMMS::Stop(void) {
  HANDLE listen = nullptr;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    listen = std::exchange(g_hListenMMS, nullptr);
  }
  if (listen != nullptr) {
    LogText(GetLog(), L"g_hListenMMS");
    TerminateThread(listen, 0);  // returns once the thread has ended
    LogText(GetLog(), L"TerminateThread");
    CloseHandle(listen);
  }
  bool had_name = false;
  CMMS* listener = nullptr;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    had_name = std::exchange(g_MMSName, nullptr) != nullptr;
    listener = std::exchange(g_pMMS, nullptr);
  }
  if (had_name) {
    // The buffer belongs to the receive thread that still runs on it.
    LogText(GetLog(), L"g_MMSName");
  }
  if (listener != nullptr) {
    LogText(GetLog(), L"g_pMMS");
    delete listener;
  }
  LogText(GetLog(), L"RemoveRegListened");
  LogText(GetLog(), L"finished");
  return 0;
}
