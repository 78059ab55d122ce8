// thread_test.cc: threads, events, timed waits and cooperative termination.
#include "platform/thread.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kGenerousMs = 5000;  // bound for "long before" checks

class Threads : public ::testing::Test {
 protected:
  void TearDown() override { SetTimeScaleForTest(1.0); }
};

// Shared by a test and the thread it starts.
struct Probe {
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> ran_after{false};
  std::atomic<bool> guard_released{false};
  ~Probe() {
    CloseHandle(started);
    CloseHandle(never);
  }
};

struct Guard {
  explicit Guard(Probe* p) : probe(p) {}
  ~Guard() { probe->guard_released = true; }
  Probe* probe;
};

DWORD SleepLong(void* arg) {
  Probe* probe = static_cast<Probe*>(arg);
  Guard guard(probe);
  SetEvent(probe->started);
  Sleep(60000);
  probe->ran_after = true;
  return 1;
}

DWORD WaitForever(void* arg) {
  Probe* probe = static_cast<Probe*>(arg);
  Guard guard(probe);
  SetEvent(probe->started);
  WaitForSingleObject(probe->never, INFINITE);
  probe->ran_after = true;
  return 1;
}

// Like a C callback: never throws, polls and returns on request.
DWORD PollUntilAsked(void* arg) {
  Probe* probe = static_cast<Probe*>(arg);
  SetEvent(probe->started);
  while (!CancelRequested()) {
    std::this_thread::yield();
  }
  return 5;
}

void ExpectTerminatedPromptly(LPTHREAD_START_ROUTINE body) {
  Probe probe;
  HANDLE thread = CreateThread(nullptr, 0, body, &probe, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(probe.started, kGenerousMs), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);

  Clock::time_point before = Clock::now();
  EXPECT_TRUE(TerminateThread(thread, 77));
  EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(kGenerousMs));
  // TerminateThread returned, so the thread no longer runs.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(probe.ran_after);
  EXPECT_TRUE(probe.guard_released);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 77u);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(Threads, TerminateEndsAThreadBlockedInSleep) {
  ExpectTerminatedPromptly(SleepLong);
}

TEST_F(Threads, TerminateEndsAThreadBlockedInAnInfiniteWait) {
  ExpectTerminatedPromptly(WaitForever);
}

TEST_F(Threads, TerminateLetsPollingCodeReturnAndKeepsTheGivenCode) {
  Probe probe;
  HANDLE thread = CreateThread(nullptr, 0, PollUntilAsked, &probe, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(probe.started, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_TRUE(TerminateThread(thread, 9));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 9u);
  // A second request on an ended thread changes nothing.
  EXPECT_TRUE(TerminateThread(thread, 10));
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 9u);
  CloseHandle(thread);
}

TEST_F(Threads, TimedWaitsTimeOutAndTheTimeScaleShrinksThem) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Clock::time_point before = Clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 30), WAIT_TIMEOUT);
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(30));

  SetTimeScaleForTest(0.0001);
  EXPECT_EQ(ScaledMs(INFINITE), INFINITE);
  EXPECT_EQ(ScaledMs(1), 1u);
  EXPECT_EQ(ScaledMs(100000), 10u);
  before = Clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 100000), WAIT_TIMEOUT);
  Sleep(60000);
  EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(kGenerousMs));
  CloseHandle(event);
}

TEST(CriticalSection, IsReentrantAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  std::atomic<bool> other_entered{false};
  std::thread other([&] {
    EnterCriticalSection(&section);
    other_entered = true;
    LeaveCriticalSection(&section);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(other_entered);
  LeaveCriticalSection(&section);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(other_entered);  // still held once
  LeaveCriticalSection(&section);
  other.join();
  EXPECT_TRUE(other_entered);
  DeleteCriticalSection(&section);
}

}  // namespace
}  // namespace mms::platform
