// loop_test.cc: many sends and retrievals in a row leave nothing behind:
// no running worker, no thread, no descriptor, no connection, no queued
// request. Memory is the sanitizers' business (LeakSanitizer at exit).
#include <unistd.h>

#include <string>

#include "connmgr/test_seams.h"
#include "entry_fixture.h"

namespace mms::testing {
namespace {

constexpr int kRounds = 200;

class Loops : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    ServeMessageAndConfirm('L');
    // Warm up once, so that lazily made process-wide objects (the HTTP
    // library, the registry) are not counted as leaks.
    SendOne();
    WaitForWorkers();
    threads_ = CountEntries("/proc/self/task");
    descriptors_ = CountDescriptors();
  }

  // Open descriptors, less the folder index's one process-wide inotify
  // instance: whether it exists depends on the host's instance limit,
  // which parallel test programs share, not on this program's work. A
  // second instance is counted: that would be a leak.
  static size_t CountDescriptors() {
    size_t count = 0;
    bool inotify_seen = false;
    if (DIR* dir = opendir("/proc/self/fd")) {
      while (const dirent* entry = readdir(dir)) {
        char target[64] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (!inotify_seen &&
            readlink(link.c_str(), target, sizeof(target) - 1) > 0 &&
            std::string(target) == "anon_inode:inotify") {
          inotify_seen = true;
        } else {
          ++count;
        }
      }
      closedir(dir);
    }
    return count;
  }

  void SendOne() {
    MMS_Custom_Data* message = NewTextMessage(L"again");
    wchar_t path[260] = {};
    if (CMMS::MMS_Send(message, path, nullptr, 0) != 0) {
      delete message;
      ADD_FAILURE() << "MMS_Send failed";
    }
  }

  void ExpectNothingLeft() {
    WaitForWorkers();
    EXPECT_EQ(g_hSendThread, nullptr);
    EXPECT_EQ(g_MMSName, nullptr);
    EXPECT_EQ(g_nRecvQueue, 0);
    EXPECT_EQ(pWebConnect, nullptr);
    EXPECT_EQ(connmgr::test::LiveConnections(), 0u);
    // Threads may take a moment to leave after their routine returned;
    // one left over from an earlier test may leave meanwhile too.
    EXPECT_TRUE(WaitUntil([this] {
      return CountEntries("/proc/self/task") <= threads_;
    })) << CountEntries("/proc/self/task")
        << " threads, " << threads_ << " before";
    // The stand-in centre's server thread closes its side of the last
    // connection only once it reads the client's close.
    EXPECT_TRUE(WaitUntil([this] {
      return CountDescriptors() <= descriptors_;
    })) << CountDescriptors()
        << " descriptors, " << descriptors_ << " before";
  }

  size_t threads_ = 0;
  size_t descriptors_ = 0;
};

TEST_F(Loops, TwoHundredSendsLeaveNothingBehind) {
  for (int i = 0; i < kRounds; ++i) {
    SendOne();
    WaitForWorkers();
  }
  ExpectNothingLeft();
  EXPECT_EQ(RequestCount(), static_cast<size_t>(kRounds + 1));
  EXPECT_EQ(RegDword(L"SendOK"), 1u);
}

TEST_F(Loops, TwoHundredRetrievalsLeaveNothingBehind) {
  const std::string url = "http://" + centre_.host() + "/loop";
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_EQ(CMMS::MMS_Recived(WBuf(std::wstring(url.begin(), url.end()))), 0);
    WaitForWorkers();
  }
  ExpectNothingLeft();
  // The warm-up send, then a download and an acknowledgement per round.
  EXPECT_EQ(RequestCount(), static_cast<size_t>(2 * kRounds + 1));
  EXPECT_EQ(IsNetWorked, 2);
}

}  // namespace
}  // namespace mms::testing
