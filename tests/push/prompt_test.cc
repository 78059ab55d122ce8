// prompt_test.cc: prompts that wait for an answer given from outside (as
// `mmsctl prompts` gives it), and a listener thread ended inside one.
#include "platform/prompt.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "client/prompts.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

namespace {

using mms::platform::PendingPrompt;
using mms::testing::DeviceTest;

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

DWORD HandleSendConfirmation(void*) {
  unsigned char body[] = {0x8c, 0x81};
  PUSHMSG push = {};
  push.cbSize = sizeof(push);
  push.pbBody = body;
  push.cbBody = sizeof(body);
  CMMS mms;
  MmsTestAccess::HandMessage(mms, &push);
  return 0;
}

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
