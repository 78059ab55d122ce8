// client_test.cc: the six client calls on the router's store, inside one
// test process that records itself as the running router. Pushes are put
// into the queue directly; another live process is a forked child.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "mms.h"
#include "push_bodies.h"
#include "pushrouter/push_datagram.h"
#include "pushrouter/push_router.h"
#include "pushrouter/push_store.h"
#include "support/test_support.h"

namespace mms::pushrouter {
namespace {

using mms::testing::Bytes;
using mms::testing::NotificationBody;

constexpr wchar_t kType[] = L"application/vnd.wap.mms-message";
constexpr wchar_t kProgram[] = L"\\program files\\Varnholt\\Tallow.exe";

class PushClientTest : public mms::testing::DeviceTest {
 protected:
  void SetUp() override { ASSERT_TRUE(store_.Open(PushStorePath())); }

  void RecordRouter() {
    RouterRow row;
    row.pid = SelfProcess().pid;
    row.start = SelfProcess().start;
    row.address = "127.0.0.1";
    ASSERT_TRUE(store_.SetRouter(row));
  }
  void Queue(const Bytes& body, const std::string& sender = "127.0.0.1") {
    StoredPush push;
    push.headers = {0xAF, 0x84};
    push.body = body;
    push.sender = sender;
    ASSERT_TRUE(store_.Enqueue(kMmsMessageType, push));
  }

  PushStore store_;
};

TEST_F(PushClientTest, OpeningNeedsARouterARegistrationAndAFreeType) {
  HANDLE event = nullptr, router = nullptr;
  EXPECT_EQ(kPushNoRouter, PushRouter_Open(kType, nullptr, &event, &router));
  RecordRouter();
  EXPECT_EQ(kPushNotRegistered,
            PushRouter_Open(kType, nullptr, &event, &router));
  EXPECT_EQ(kPushOk,
            PushRouter_RegisterClient(kType, nullptr, kProgram, L"/run"));
  EXPECT_EQ(kPushNotRegistered,
            PushRouter_Open(kType, L"other-app", &event, &router));

  const pid_t other = fork();  // another live process
  if (other == 0) {
    pause();
    _exit(0);
  }
  ASSERT_EQ(StoreResult::kOk,
            store_.Hold(kMmsMessageType,
                        ProcessOf(static_cast<uint32_t>(other)), 1, 9));
  EXPECT_EQ(kPushHeldElsewhere,
            PushRouter_Open(kType, nullptr, &event, &router));
  kill(other, SIGKILL);  // a hold ends with its process
  waitpid(other, nullptr, 0);
  ASSERT_EQ(kPushOk, PushRouter_Open(L"Application/VND.WAP.MMS-Message",
                                     nullptr, &event, &router));
  EXPECT_NE(nullptr, event);
  EXPECT_EQ(kPushOk, PushRouter_Close(router));
  EXPECT_EQ(kPushBadHandle, PushRouter_Close(router));
  EXPECT_EQ(kPushInvalidArg,
            PushRouter_Open(nullptr, nullptr, &event, &router));
}

// Two connections making a new store at the same moment both open it (the
// router and its first client start together).
TEST_F(PushClientTest, TwoConnectionsMakingANewStoreTogetherBothOpenIt) {
  for (int round = 0; round < 200; ++round) {
    const std::string path =
        PushStorePath() + "." + std::to_string(round) + ".db";
    std::atomic<bool> go{false};
    bool opened[2] = {};
    auto open = [&](int i) {
      while (!go.load()) {
      }
      PushStore store;
      opened[i] = store.Open(path);
    };
    std::thread first(open, 0), second(open, 1);
    go = true;
    first.join();
    second.join();
    ASSERT_TRUE(opened[0] && opened[1]) << "round " << round;
  }
}

TEST_F(PushClientTest, RegistrationsAreKeyedByTypeAndApplication) {
  EXPECT_EQ(kPushOk,
            PushRouter_RegisterClient(kType, nullptr, kProgram, L"/run"));
  EXPECT_EQ(kPushAlreadyRegistered,
            PushRouter_RegisterClient(L"APPLICATION/vnd.wap.mms-message",
                                      nullptr, L"\\x.exe", nullptr));
  EXPECT_EQ(kPushOk,
            PushRouter_RegisterClient(kType, L"app-2", L"\\x.exe", nullptr));
  EXPECT_EQ(kPushNotFound, PushRouter_UnRegisterClient(kType, L"app-3"));
  EXPECT_EQ(kPushOk, PushRouter_UnRegisterClient(kType, nullptr));
  EXPECT_EQ(kPushNotFound, PushRouter_UnRegisterClient(kType, nullptr));
  // Registering needs no running router: it is the router's configuration.
  EXPECT_EQ(kPushOk,
            PushRouter_RegisterClient(kType, nullptr, kProgram, L"/run"));
  Registration found;
  bool exists = false;
  ASSERT_TRUE(store_.FindRegistration(kMmsMessageType, &found, &exists));
  ASSERT_TRUE(exists);
  EXPECT_EQ("app-2", found.app_id);  // the older registration comes first
  EXPECT_EQ(kPushInvalidArg,
            PushRouter_RegisterClient(L"", nullptr, kProgram, nullptr));

  // A store file replaced behind the process is the one written next.
  for (const char* suffix : {"", "-wal", "-shm"}) {
    unlink((PushStorePath() + suffix).c_str());
  }
  PushStore fresh;
  ASSERT_TRUE(fresh.Open(PushStorePath()));
  EXPECT_EQ(kPushOk,
            PushRouter_RegisterClient(kType, nullptr, kProgram, L"/run"));
  ASSERT_TRUE(fresh.FindRegistration(kMmsMessageType, &found, &exists));
  EXPECT_TRUE(exists);
}

TEST_F(PushClientTest, AnOpenFromTheHoldingProcessTakesTheHoldOver) {
  RecordRouter();
  ASSERT_EQ(kPushOk,
            PushRouter_RegisterClient(kType, nullptr, kProgram, L"/run"));
  HANDLE event1 = nullptr, router1 = nullptr;
  HANDLE event2 = nullptr, router2 = nullptr;
  ASSERT_EQ(kPushOk, PushRouter_Open(kType, nullptr, &event1, &router1));
  Queue(NotificationBody("http://mmsc/x"));
  ASSERT_EQ(kPushOk, PushRouter_Open(kType, nullptr, &event2, &router2));
  PUSHMSG push = {};
  push.cbSize = sizeof(push);
  EXPECT_EQ(kPushBadHandle, PushRouter_GetMessage(router1, &push));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event1, 300));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event2, 5000));
  // Closing the old handle leaves the new hold alone.
  EXPECT_EQ(kPushOk, PushRouter_Close(router1));
  int port = 0;
  ASSERT_TRUE(store_.LiveHolderPort(kMmsMessageType, &port));
  EXPECT_GT(port, 0);
  ASSERT_EQ(kPushOk, PushRouter_GetMessage(router2, &push));
  EXPECT_EQ(kPushOk, PushRouter_FreeMessage(&push));
  EXPECT_EQ(kPushOk, PushRouter_Close(router2));
  ASSERT_TRUE(store_.LiveHolderPort(kMmsMessageType, &port));
  EXPECT_EQ(0, port);
}

}  // namespace
}  // namespace mms::pushrouter
