// listen_test.cc: Start, Stop and the listen thread over a scripted push
// router: the globals, the log lines, a second Start, listening again
// after Stop, the failure prompts, and a notification that leads to a
// retrieval.
#include <atomic>
#include <string>
#include <vector>

#include "entry_fixture.h"

namespace mms::testing {
namespace {

// The scripted router: answers opening with open_result, hands out the
// pushes of `waiting` one by one, and counts the calls.
struct ScriptedRouter {
  std::mutex mu;
  HRESULT open_result = 0;
  std::vector<Bytes> waiting;  // guarded by mu
  Bytes handed_out;            // guarded by mu
  std::atomic<int> opens{0};
  std::atomic<int> closes{0};
  std::atomic<int> registrations{0};
  HANDLE event = nullptr;
};
ScriptedRouter* g_router = nullptr;

HRESULT Register(const wchar_t*, const wchar_t*, const wchar_t*,
                 const wchar_t*) {
  ++g_router->registrations;
  return 0;
}
HRESULT Unregister(const wchar_t*, const wchar_t*) { return 0; }
HRESULT Open(const wchar_t*, const wchar_t*, HANDLE* event, HANDLE* router) {
  ++g_router->opens;
  if (g_router->open_result != 0) {
    return g_router->open_result;
  }
  std::lock_guard<std::mutex> lock(g_router->mu);
  *event = g_router->event;
  *router = reinterpret_cast<HANDLE>(0x5150);
  if (!g_router->waiting.empty()) {
    SetEvent(g_router->event);
  }
  return 0;
}
HRESULT GetMessage(HANDLE, PUSHMSG* push) {
  std::lock_guard<std::mutex> lock(g_router->mu);
  if (g_router->waiting.empty()) {
    return static_cast<HRESULT>(0x80070103u);
  }
  g_router->handed_out = g_router->waiting.front();
  g_router->waiting.erase(g_router->waiting.begin());
  if (g_router->waiting.empty()) {
    ResetEvent(g_router->event);
  }
  push->pbBody = g_router->handed_out.data();
  push->cbBody = static_cast<DWORD>(g_router->handed_out.size());
  return 0;
}
HRESULT FreeMessage(PUSHMSG*) { return 0; }
HRESULT Close(HANDLE) {
  ++g_router->closes;
  return 0;
}
const platform::PushRouterCalls kScripted = {Register, Unregister, Open,
                                             GetMessage, FreeMessage, Close};

class Listening : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    router_.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_router = &router_;
    platform::SetPushRouterCalls(&kScripted);
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
    }) && WaitUntil([this] { return router_.opens > 0; });
  }

  ScriptedRouter router_;
};

TEST_F(Listening, StartThenStopLeavesTheGlobalsNull) {
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(IsListening());
  EXPECT_NE(g_hListenMMS, nullptr);

  EXPECT_EQ(CMMS::Stop(), 0);
  EXPECT_EQ(g_hListenMMS, nullptr);
  EXPECT_EQ(g_pMMS, nullptr);
  EXPECT_EQ(g_MMSName, nullptr);
  EXPECT_EQ(client::RunningWorkers(), 0);
  // The router is left open, as the listener had it.
  EXPECT_EQ(router_.closes, 0);
  EXPECT_EQ(StopLines(),
            (std::vector<std::string>{"g_hListenMMS", "TerminateThread",
                                      "g_pMMS", "RemoveRegListened",
                                      "finished"}));
}

TEST_F(Listening, StopWithoutStartLogsOnlyItsLastLines) {
  EXPECT_EQ(CMMS::Stop(), 0);
  EXPECT_EQ(StopLines(),
            (std::vector<std::string>{"RemoveRegListened", "finished"}));
}

TEST_F(Listening, SecondStartKeepsOneListenerAndStartAfterStopListensAgain) {
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(IsListening());
  HANDLE first = g_hListenMMS;
  EXPECT_EQ(CMMS::Start(), 0);
  EXPECT_EQ(g_hListenMMS, first);
  EXPECT_EQ(client::RunningWorkers(), 1);
  EXPECT_EQ(router_.opens, 1);

  EXPECT_EQ(CMMS::Stop(), 0);
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(IsListening());
  EXPECT_TRUE(WaitUntil([this] { return router_.opens == 2; }));
  EXPECT_EQ(CMMS::Stop(), 0);
  EXPECT_EQ(g_pMMS, nullptr);
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

TEST_F(Listening, NotificationLeadsToARetrievalAndItsAcknowledgement) {
  const std::string url = "http://" + centre_.host() + "/n1";
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    const Bytes pdu = req.method == "GET"
                          ? Hex("8c 84 98 4e 31 00 8d 90 84 a3 00")
                          : Hex("8c 81 98 4e 31 00 8d 90 92 80");
    res.set_content(std::string(pdu.begin(), pdu.end()),
                    "application/vnd.wap.mms-message");
  });
  // m-notification-ind: transaction "N1", version 1.0, the location.
  Bytes push = Hex("8c 82 98 4e 31 00 8d 90 83");
  push.insert(push.end(), url.begin(), url.end());
  push.push_back(0);
  {
    std::lock_guard<std::mutex> lock(router_.mu);
    router_.waiting.push_back(push);
  }
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(WaitUntil([this] { return Dword(L"WapState") != kMissing; }));
  const std::wstring location = String(L"WapUrl");
  EXPECT_EQ(location, std::wstring(url.begin(), url.end()));

  ASSERT_EQ(CMMS::MMS_Recived(WBuf(location)), 0);
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 2; }));
  ASSERT_TRUE(WaitUntil([this] { return client::RunningWorkers() == 1; }));
  const auto requests = centre_.requests();
  EXPECT_EQ(requests[0].target, "//n1");
  EXPECT_EQ(requests[1].body,
            std::string("\x8c\x85\x98N1\0\x8d\x90\x91\x80", 10));
  EXPECT_EQ(Dword(L"NewMMS"), 1u);
  EXPECT_EQ(IsNetWorked, 2);
}

}  // namespace
}  // namespace mms::testing
