// shutdown_test.cc: programs that end with a submission in flight, run as
// separate processes linking the shared library: one that waits through
// MMS_Shutdown gets every submission to the centre; one that returns from
// main at once neither crashes nor loses a submission without a log line.
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "entry_fixture.h"

namespace mms::testing {
namespace {

class Ending : public EntryTest {
 protected:
  // Runs the client program in mode on this test's device root; true
  // when it exited normally with status 0.
  bool RunClient(const char* mode) {
    const std::string command =
        "ASAN_OPTIONS=detect_leaks=0 MMS_DEVICE_ROOT='" + Host(L"") +
        "' " MMS_BINARY_DIR "/tests/exit_client " + mode;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
};

TEST_F(Ending, ProgramThatWaitsGetsEverySubmissionToTheCentre) {
  ServeMessageAndConfirm('1');
  for (int run = 0; run < 50; ++run) {
    ASSERT_TRUE(RunClient("wait")) << "run " << run;
  }
  EXPECT_EQ(RequestCount(), 50u);
  EXPECT_EQ(StoredCount(), 50u);
}

TEST_F(Ending, ProgramThatReturnsAtOnceLogsEachLostSubmission) {
  std::filesystem::create_directories(Host(L"\\KestLogDir"));
  // A late centre: every answer comes after the program has gone.
  centre_.SetHandler([](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    res.status = 500;
  });
  // Each run starts a fresh log file: its own lines are read after it.
  int runs_with_one_line = 0;
  for (int run = 0; run < 50; ++run) {
    ASSERT_TRUE(RunClient("exit")) << "run " << run;
    int lost = 0;
    for (const std::string& line : LogLines()) {
      if (line.rfind("Submission lost at shutdown: \\Windows\\Messaging\\",
                     0) == 0) {
        ++lost;
      }
    }
    runs_with_one_line += lost == 1 ? 1 : 0;
    std::filesystem::remove_all(Host(L"\\KestLogDir"));
    std::filesystem::create_directories(Host(L"\\KestLogDir"));
  }
  EXPECT_EQ(runs_with_one_line, 50);
  EXPECT_EQ(StoredCount(), 50u);
}

}  // namespace
}  // namespace mms::testing
