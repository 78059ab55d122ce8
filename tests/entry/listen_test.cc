// listen_test.cc: Start, Stop and the listen thread over a scripted push
// router: the globals, the log lines, a second Start and the failure
// prompts. The path from a real push to a retrieval is in
// push_router_test.cc.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "entry_fixture.h"
#include "platform/handle_table.h"
#include "platform/test_seams.h"

namespace mms::testing {
namespace {

// The scripted router: answers opening with open_result, never has a push
// waiting, and counts the calls.
struct ScriptedRouter {
  std::atomic<HRESULT> open_result{0};
  std::atomic<int> opens{0};
  std::atomic<int> closes{0};
  std::atomic<int> registrations{0};
  HANDLE event = nullptr;
};
ScriptedRouter* g_router = nullptr;

const pushrouter::PushRouterCalls kScripted = {
    [](const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*) {
      ++g_router->registrations;
      return HRESULT{0};
    },
    [](const wchar_t*, const wchar_t*) { return HRESULT{0}; },
    [](const wchar_t*, const wchar_t*, HANDLE* event, HANDLE* router) {
      ++g_router->opens;
      if (g_router->open_result == 0) {
        *event = g_router->event;
        *router = reinterpret_cast<HANDLE>(0x5150);
      }
      return g_router->open_result.load();
    },
    [](HANDLE, PUSHMSG*) {
      return static_cast<HRESULT>(0x80070103u);  // nothing waits
    },
    [](PUSHMSG*) { return HRESULT{0}; },
    [](HANDLE) {
      ++g_router->closes;
      return HRESULT{0};
    }};

class Listening : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    router_.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_router = &router_;
    pushrouter::SetPushRouterCalls(&kScripted);
    std::filesystem::create_directories(Host(L"\\KestLogDir"));
  }
  void TearDown() override {
    EntryTest::TearDown();
    CloseHandle(router_.event);
    g_router = nullptr;
  }

  // Log lines after the log's own header.
  std::vector<std::string> StopLines() {
    std::vector<std::string> lines;
    for (const std::string& line : LogLines()) {
      if (line.rfind("g_", 0) == 0 || line == "TerminateThread" ||
          line == "RemoveRegListened" || line == "finished") {
        lines.push_back(line);
      }
    }
    return lines;
  }

  bool IsListening() {
    return WaitUntil([] {
             std::lock_guard<std::mutex> lock(client::StateMutex());
             return g_pMMS != nullptr;
           }) &&
           WaitUntil([this] { return router_.opens > 0; });
  }

  ScriptedRouter router_;
};

TEST_F(Listening, StopWithoutStartThenStartAndStopLeaveTheGlobalsNull) {
  EXPECT_EQ(CMMS::Stop(), 0);
  EXPECT_EQ(StopLines(),
            (std::vector<std::string>{"RemoveRegListened", "finished"}));

  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(IsListening());
  HANDLE first = g_hListenMMS;
  EXPECT_NE(first, nullptr);
  // A second Start keeps the one listener.
  EXPECT_EQ(CMMS::Start(), 0);
  EXPECT_EQ(g_hListenMMS, first);
  EXPECT_EQ(client::RunningWorkers(), 1);
  EXPECT_EQ(router_.opens, 1);
  EXPECT_EQ(CMMS::Stop(), 0);
  EXPECT_EQ(g_hListenMMS, nullptr);
  EXPECT_EQ(g_pMMS, nullptr);
  EXPECT_EQ(g_MMSName, nullptr);
  EXPECT_EQ(client::RunningWorkers(), 0);
  // The router is left open, as the listener had it.
  EXPECT_EQ(router_.closes, 0);
  // Reading closed the log, and its next opening started a new file.
  EXPECT_EQ(StopLines(), (std::vector<std::string>{
                             "g_hListenMMS", "TerminateThread", "g_pMMS",
                             "RemoveRegListened", "finished"}));
}

TEST_F(Listening, RouterFailuresArePromptedAndAStartAfterThemListens) {
  router_.open_result = static_cast<HRESULT>(0x80004005u);
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(WaitUntil([this] { return client::RunningWorkers() == 0; }));
  ASSERT_EQ(Prompts().size(), 1u);
  EXPECT_EQ(Prompts()[0].text, L"PUSHRTR_E_EXCEPTION");
  EXPECT_EQ(Prompts()[0].caption, L"Prompt");
  EXPECT_EQ(Prompts()[0].type, MB_OK);
  EXPECT_EQ(router_.registrations, 0);

  // Not registered, a hundred times over.
  router_.open_result = static_cast<HRESULT>(0x80530001u);
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(WaitUntil([this] { return Prompts().size() == 2; }));
  EXPECT_EQ(Prompts()[1].text, L"MMS already opened");
  EXPECT_EQ(Prompts()[1].caption, L"Prompt");
  EXPECT_EQ(router_.registrations, 100);

  router_.open_result = 0;
  ASSERT_TRUE(WaitUntil([this] { return client::RunningWorkers() == 0; }));
  ASSERT_EQ(CMMS::Start(), 0);
  EXPECT_TRUE(WaitUntil([this] { return router_.opens == 103; }));
  EXPECT_EQ(client::RunningWorkers(), 1);
}

TEST_F(Listening, StartRacingStopNeverRunsTwoListeners) {
  std::atomic<bool> racing{true};
  std::atomic<int> most{0};
  std::thread watcher([&] {
    while (racing) {
      const int now = client::RunningWorkers();
      if (now > most) {
        most = now;
      }
    }
  });
  for (int round = 0; round < 100; ++round) {
    ASSERT_EQ(CMMS::Start(), 0);
    ASSERT_TRUE(WaitUntil([] {
      std::lock_guard<std::mutex> lock(client::StateMutex());
      return g_pMMS != nullptr;
    }));
    std::atomic<int> ready{0};
    auto together = [&ready] {
      ++ready;
      while (ready < 2) {
      }
    };
    std::thread stopper([&] {
      together();
      CMMS::Stop();
    });
    together();
    EXPECT_EQ(CMMS::Start(), 0);
    stopper.join();
  }
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(IsListening());
  racing = false;
  watcher.join();
  EXPECT_LE(most, 1);
  EXPECT_EQ(client::RunningWorkers(), 1);
}

TEST_F(Listening, FailedThreadCreationLeavesNoHandle) {
  // A listener that ended by itself leaves its handle to the next Start.
  router_.open_result = static_cast<HRESULT>(0x80004005u);
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(WaitUntil([this] { return client::RunningWorkers() == 0; }));
  const size_t handles = platform::OpenHandleCount();
  platform::test::FailNthThreadCreation(1);
  EXPECT_EQ(CMMS::Start(), -1);
  EXPECT_EQ(platform::OpenHandleCount(), handles - 1);
  EXPECT_EQ(g_hListenMMS, nullptr);
  EXPECT_EQ(client::RunningWorkers(), 0);
}

}  // namespace
}  // namespace mms::testing
