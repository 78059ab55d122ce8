// dispatch_test.cc: what HandMessage publishes for each push, in which
// order, and the prompts it shows; prompts that wait for an answer given
// from outside (as `mmsctl prompts` gives it).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/prompts.h"
#include "diag/log.h"
#include "platform/prompt.h"
#include "platform/test_seams.h"
#include "push/wap_push.h"
#include "store/announcements.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

// Bodies are laid out one field per line with a comment, as on the wire.
// clang-format off
namespace {

using mms::platform::PendingPrompt;
using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::DeviceTest;
using mms::testing::Hex;
using mms::testing::RegDword;
using mms::testing::RegString;
using mms::testing::WriteOrder;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

int Handle(Bytes body) {
  PUSHMSG push = {};
  push.cbSize = sizeof(push);
  push.pbBody = body.empty() ? nullptr : body.data();
  push.cbBody = static_cast<DWORD>(body.size());
  CMMS mms;
  return MmsTestAccess::HandMessage(mms, &push);
}

struct Shown {
  std::wstring text;
  std::wstring caption;
  UINT type;
};

class DispatchTest : public DeviceTest {
 protected:
  void SetUp() override {
    mms::platform::SetPromptHandler(
        [this](const std::wstring& text, const std::wstring& caption,
               UINT type) {
          std::lock_guard<std::mutex> lock(mu_);
          shown_.push_back({text, caption, type});
          return IDOK;
        });
  }
  void TearDown() override {
    mms::client::EndPrompts();
    mms::platform::SetPromptHandler(nullptr);
    DeviceTest::TearDown();
  }

  // The prompts shown so far, once count of them were (prompts are shown
  // on a thread of their own).
  std::vector<Shown> ShownAfter(size_t count) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (shown_.size() >= count ||
            std::chrono::steady_clock::now() > end) {
          return shown_;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void ClearShown() {
    std::lock_guard<std::mutex> lock(mu_);
    shown_.clear();
  }

  std::mutex mu_;
  std::vector<Shown> shown_;  // guarded by mu_
};

TEST_F(DispatchTest, NotificationPublishesPhoneUrlTypeThenState) {
  mms::platform::test::FixRandom(4242);
  const Bytes body = Cat({
      Hex("8c 82 98"), Text("T9"), Hex("00 8d 90"),
      Hex("89 1a 80"), Text("+8613912345678/TYPE=PLMN"), Hex("00"),
      Hex("83"), Text("http://192.0.2.172/a1"), Hex("00"),
  });
  EXPECT_EQ(Handle(body), 0);
  EXPECT_EQ(WriteOrder(), (std::vector<std::wstring>{L"WapPhone", L"WapUrl",
                                                     L"WapType", L"WapState"}));
  EXPECT_EQ(RegString(L"WapPhone"), L"+8613912345678");
  EXPECT_EQ(RegString(L"WapUrl"), L"http://192.0.2.172/a1");
  EXPECT_EQ(RegDword(L"WapType"), 130u);
  EXPECT_EQ(RegDword(L"WapState"), 4242u);
  EXPECT_TRUE(shown_.empty());
  std::string id;  // kept for a retrieved message without one
  EXPECT_TRUE(mms::store::FindAnnouncement("http://192.0.2.172/a1", &id));
  EXPECT_EQ(id, "T9");
}

TEST_F(DispatchTest, NotificationWithoutAUsableLocationChangesNoValue) {
  Handle(Hex("8c 82 89 1a"));  // From cut short: no sender, no location
  for (const char* location :
       {"", "https://192.0.2.172/a1", "ftp://192.0.2.172/a1", "/a1"}) {
    Handle(Cat({Hex("8c 82 98"), Text("T1"), Hex("00 83"), Text(location),
                 Hex("00")}));
  }
  EXPECT_TRUE(WriteOrder().empty());
  std::string id;
  EXPECT_FALSE(mms::store::FindAnnouncement("https://192.0.2.172/a1", &id));

  Handle(Cat({Hex("8c 82 83"), Text("http://x/2"), Hex("00")}));
  EXPECT_EQ(WriteOrder(), (std::vector<std::wstring>{L"WapPhone", L"WapUrl",
                                                     L"WapType", L"WapState"}));
  EXPECT_EQ(RegString(L"WapPhone"), L"");
  EXPECT_EQ(RegString(L"WapUrl"), L"http://x/2");
}

TEST_F(DispatchTest, DeliveryReportPublishesItsValuesAndKeepsOldOnes) {
  const Bytes report = Cat({
      Hex("8c 86 8d 90 8b"), Text("msg-42"), Hex("00"),
      Hex("97"), Text("+8613912345678/TYPE=PLMN"), Hex("00"),
      Hex("85 04 49 af 71 00 95 81"),  // Date, X-Mms-Status: Retrieved
  });
  Handle(report);
  EXPECT_EQ(WriteOrder(),
            (std::vector<std::wstring>{L"DeliveryReportPhone",
                                       L"DeliveryReportMsgID",
                                       L"DeliveryReportStatue", L"WapType",
                                       L"WapState"}));
  EXPECT_EQ(RegString(L"DeliveryReportPhone"), L"+8613912345678");
  EXPECT_EQ(RegString(L"DeliveryReportMsgID"), L"msg-42");
  EXPECT_EQ(RegDword(L"DeliveryReportStatue"), 129u);
  EXPECT_EQ(RegDword(L"WapType"), 134u);

  // Status 0 and no Message-ID: neither is written; the old ones stay.
  Handle(Cat({Hex("8c 86 97"), Text("10086"), Hex("00 95 00")}));
  EXPECT_EQ(RegString(L"DeliveryReportPhone"), L"10086");
  EXPECT_EQ(RegString(L"DeliveryReportMsgID"), L"msg-42");
  EXPECT_EQ(RegDword(L"DeliveryReportStatue"), 129u);
  const std::vector<std::wstring> order = WriteOrder();
  EXPECT_EQ(order.back(), L"WapState");
  EXPECT_EQ(order[order.size() - 2], L"WapType");
}

TEST_F(DispatchTest, OtherTypesAreAnnouncedInAPromptAndTheLog) {
  ASSERT_TRUE(CreateDirectoryW(L"\\KestLogDir", nullptr));
  const std::vector<std::pair<std::string, std::wstring>> cases = {
      {"8c 80", L"Get the send request"},
      {"8c 81", L"Get the Send Comfirmation"},
      {"8c 83", L"Get the NotifyResp ind"},
      {"8c 84", L"Get the RetriveMessage"},
      {"8c 85", L"Get the Acknowlege ind"},
  };
  for (const auto& [hex, text] : cases) {
    ClearShown();
    EXPECT_EQ(Handle(Hex(hex)), 0);
    const auto shown = ShownAfter(1);
    ASSERT_EQ(shown.size(), 1u) << hex;
    EXPECT_EQ(shown[0].text, text);
    EXPECT_EQ(shown[0].caption, L"Prompt");
    EXPECT_EQ(shown[0].type, MB_OK);
    EXPECT_EQ(RegDword(L"WapType"), Hex(hex)[1]);
  }
  // Unknown types and an empty body are only published.
  mms::client::EndPrompts();
  ClearShown();
  Handle(Hex("8c 87"));
  EXPECT_EQ(RegDword(L"WapType"), 135u);
  Handle({});
  EXPECT_EQ(RegDword(L"WapType"), 0u);
  EXPECT_TRUE(ShownAfter(0).empty());
  CMMS mms;
  EXPECT_EQ(MmsTestAccess::HandMessage(mms, nullptr), -1);
  mms::diag::CloseLog();
  const Bytes log =
      mms::testing::ReadHostFile(Host(L"\\KestLogDir\\push_tests_log.txt"));
  // The prompts' texts are logged too.
  const std::string logged(log.begin(), log.end());
  EXPECT_NE(logged.find(" : Get the RetriveMessage\n\r\n"), std::string::npos);
}

TEST_F(DispatchTest, UnansweredPromptsNeverHoldUpPushHandling) {
  std::mutex mu;
  std::condition_variable cv;
  int showing = 0;
  bool answered = false;
  mms::platform::SetPromptHandler(
      [&](const std::wstring&, const std::wstring&, UINT) {
        std::unique_lock<std::mutex> lock(mu);
        ++showing;
        cv.notify_all();
        cv.wait(lock, [&] { return answered; });
        return IDOK;
      });
  EXPECT_EQ(Handle(Hex("8c 81")), 0);
  {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return showing == 1; });
  }
  // The notification is published while the prompt is still up.
  EXPECT_EQ(Handle(Cat({Hex("8c 82 83"), Text("http://x/1"), Hex("00")})), 0);
  EXPECT_EQ(RegString(L"WapUrl"), L"http://x/1");
  EXPECT_EQ(RegDword(L"WapType"), 130u);

  // A flood of prompt-raising pushes: all handled, the queue bounded.
  for (int i = 0; i < 1000; ++i) {
    mms::platform::test::FixRandom(i);
    EXPECT_EQ(Handle(Hex("8c 81")), 0);
    EXPECT_EQ(RegDword(L"WapState"), static_cast<DWORD>(i));
  }
  EXPECT_EQ(mms::client::QueuedPrompts(), mms::client::kMaxQueuedPrompts);
  {
    std::lock_guard<std::mutex> lock(mu);
    answered = true;
  }
  cv.notify_all();
  // The one shown and those that waited; the rest were dropped.
  const int expected = 1 + static_cast<int>(mms::client::kMaxQueuedPrompts);
  std::unique_lock<std::mutex> lock(mu);
  EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(20),
                          [&] { return showing == expected; }));
  EXPECT_EQ(mms::client::QueuedPrompts(), 0u);
}

// clang-format on
std::vector<PendingPrompt> WaitForPending(size_t count) {
  std::vector<PendingPrompt> pending;
  for (int i = 0; i < 400; ++i) {
    EXPECT_TRUE(mms::platform::ListPendingPrompts(&pending));
    if (pending.size() >= count) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pending;
}

class PromptTest : public DeviceTest {
 protected:
  void SetUp() override {
    // Shown the way a process without a terminal shows it.
    mms::platform::SetPromptHandler(
        [](const std::wstring& text, const std::wstring& caption, UINT) {
          return mms::platform::WaitForPendingAnswer(text, caption);
        });
  }
  void TearDown() override {
    mms::platform::SetPromptHandler(nullptr);
    DeviceTest::TearDown();
  }
};

TEST_F(PromptTest, PendingPromptWaitsUntilAnswered) {
  std::atomic<int> result{-1};
  std::thread shower([&] {
    result = MessageBoxW(nullptr, L"Get the RetriveMessage", L"Prompt", MB_OK);
  });
  const std::vector<PendingPrompt> pending = WaitForPending(1);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].caption, L"Prompt");
  EXPECT_EQ(pending[0].text, L"Get the RetriveMessage");
  EXPECT_EQ(pending[0].pid, static_cast<uint32_t>(GetCurrentProcessId()));

  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(result.load(), -1);  // still waiting

  ASSERT_TRUE(mms::platform::AnswerPrompt(pending[0].id));
  shower.join();
  EXPECT_EQ(result.load(), IDOK);
  EXPECT_TRUE(WaitForPending(0).empty());
  EXPECT_FALSE(mms::platform::AnswerPrompt(pending[0].id));
}

DWORD HandleSendConfirmation(void*) { return Handle(Hex("8c 81")); }

TEST_F(PromptTest, PushPromptWaitsOnItsOwnThreadAndGoesWithStop) {
  HANDLE thread =
      CreateThread(nullptr, 0, HandleSendConfirmation, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  // The push is handled and published while its prompt still waits.
  EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
  CloseHandle(thread);
  ASSERT_EQ(WaitForPending(1).size(), 1u);
  EXPECT_EQ(mms::testing::WriteOrder(),
            (std::vector<std::wstring>{L"WapType", L"WapState"}));

  mms::client::EndPrompts();               // as Stop does
  EXPECT_TRUE(WaitForPending(0).empty());  // its prompt went with it
}

}  // namespace
