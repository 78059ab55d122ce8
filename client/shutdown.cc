// shutdown.cc: setting the process up before the first worker starts, and
// ending the library's work in order: MMS_Shutdown for a program that
// waits, and an exit handler for one that returns from main with work in
// flight.
//
// Exit handlers run in the reverse order of their registration, so the
// handler registered here after the log's runs first: every worker has
// ended (or had its bounded grace) before the log is closed.
#include <stdlib.h>

#include <atomic>
#include <mutex>

#include "client/threads.h"
#include "diag/log.h"
#include "mms.h"
#include "platform/thread.h"
#include "transport/wininet.h"

namespace mms::client {
namespace {

// Real time that ended workers get to unwind: each stops at its next
// blocking point, which comes within a poll slice.
constexpr uint32_t kUnwindGraceMs = 5000;

std::atomic<bool> g_shutting_down{false};

void EndWorkAtExit() { EndAllWork(); }

}  // namespace

void SetUpProcess() {
  static std::once_flag once;
  std::call_once(once, [] {
    (void)GetLog();  // registers the log's own exit handler first
    mms::transport::InitHttp();
    atexit(EndWorkAtExit);
  });
}

bool ShuttingDown() { return g_shutting_down; }

void EndAllWork() {
  g_shutting_down = true;
  mms::platform::RequestEndOfAllThreads();
  (void)WaitForWorkers(kUnwindGraceMs);
  {
    std::lock_guard<std::mutex> lock(StateMutex());
    while (g_pRecvQueue != nullptr && g_pRecvQueue->bStarted) {
      PopRecvQueueLocked();
    }
    IsNetWorked = kNetIdle;
  }
  g_shutting_down = false;
}

}  // namespace mms::client

int CMMS::MMS_Shutdown(unsigned long wait_ms) {
  const uint32_t limit =
      wait_ms > 0xFFFFFFFEul ? 0xFFFFFFFEu : static_cast<uint32_t>(wait_ms);
  const bool finished = mms::client::WaitForWork(limit);
  Stop();
  mms::client::EndAllWork();
  mms::client::ReleaseWebConnection(false);
  return finished ? 0 : -1;
}
