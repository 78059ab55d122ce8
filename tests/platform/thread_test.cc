// thread_test.cc: timed waits under the test time scale (termination is
// exercised by the listening, retrieval and sending tests).
#include "platform/thread.h"

#include <chrono>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::platform {
namespace {

using Clock = std::chrono::steady_clock;

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
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));  // long before
  CloseHandle(event);
}

}  // namespace
}  // namespace mms::platform
