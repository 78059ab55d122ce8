// thread_test.cc: timed waits under the test time scale, and critical
// sections (termination is exercised by the connection, transfer and
// sending tests).
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
