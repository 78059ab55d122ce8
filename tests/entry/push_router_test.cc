// push_router_test.cc: the whole receiving path with the real push router
// stand-in, run inside the test process: a WAP push datagram on loopback,
// the listen thread publishing it, MMS_Recived fetching the message
// through tinyproxy and acknowledging it; then Stop and a second Start
// that listens again.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "entry_fixture.h"
#include "pushrouter/push_datagram.h"
#include "pushrouter/push_router_service.h"
#include "pushrouter/push_store.h"

namespace mms::testing {
namespace {

class PushRouterPath : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    ServeMessageAndConfirm('R');
    options_.port = FreeTcpPort();
    router_ = std::thread([this] { router_exit_ = RunPushRouter(); });
    ASSERT_TRUE(WaitUntil([this] { return RouterListens(); }));
  }
  void TearDown() override {
    EntryTest::TearDown();
    stop_router_ = true;
    if (router_.joinable()) {
      router_.join();
    }
  }

  int RunPushRouter() {
    return pushrouter::RunPushRouter(options_, stop_router_);
  }

  bool RouterListens() {
    pushrouter::PushStore store;
    pushrouter::RouterRow row;
    bool live = false;
    return store.Open(pushrouter::PushStorePath()) &&
           store.Router(&row, &live) && live && row.port == options_.port;
  }

  // True once a listener holds the MMS content type open.
  static bool Held() {
    pushrouter::PushStore store;
    int port = 0;
    return store.Open(pushrouter::PushStorePath()) &&
           store.LiveHolderPort(pushrouter::kMmsMessageType, &port) && port > 0;
  }

  // One connectionless WSP push of body to the router.
  void SendPush(const Bytes& body) {
    Bytes datagram = Hex("01 06 01 be");  // TID, Push, headers 1, MMS type
    datagram.insert(datagram.end(), body.begin(), body.end());
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(options_.port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(sendto(fd, datagram.data(), datagram.size(), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(datagram.size()));
    close(fd);
  }

  pushrouter::RouterOptions options_;
  std::atomic<bool> stop_router_{false};
  std::atomic<int> router_exit_{-1};
  std::thread router_;
};

TEST_F(PushRouterPath, NotificationIsFetchedAcknowledgedAndStartListensAgain) {
  ASSERT_EQ(CMMS::Start(), 0);
  ASSERT_TRUE(WaitUntil(Held));
  const std::string url = "http://" + centre_.host() + "/r1";
  Bytes notification = Hex("8c 82 98 52 31 00 8d 90 83");
  notification.insert(notification.end(), url.begin(), url.end());
  notification.push_back(0);
  SendPush(notification);

  ASSERT_TRUE(WaitUntil([this] { return RegString(L"WapUrl").size() > 0; }));
  const std::wstring location = RegString(L"WapUrl");
  EXPECT_EQ(location, std::wstring(url.begin(), url.end()));
  ASSERT_EQ(CMMS::MMS_Recived(WBuf(location)), 0);
  ASSERT_TRUE(WaitUntil(
      [this] { return RequestCount() == 2 && client::RunningWorkers() == 1; }));
  const auto requests = centre_.requests();
  EXPECT_EQ(requests[0].target, "/r1");
  EXPECT_EQ(requests[1].body, Text(Hex("8c 85 98 52 31 00 8d 90 91 80")));
  EXPECT_EQ(RegDword(L"NewMMS"), 1u);
  EXPECT_EQ(IsNetWorked, 2);

  EXPECT_EQ(CMMS::Stop(), 0);
  EXPECT_EQ(g_hListenMMS, nullptr);
  EXPECT_EQ(g_pMMS, nullptr);
  EXPECT_EQ(client::RunningWorkers(), 0);

  // Listening again: a delivery report reaches the new listener.
  ASSERT_EQ(CMMS::Start(), 0);
  Bytes report = Hex("8c 86 8b 6d 31 00 95 81");  // Message-ID "m1"
  SendPush(report);
  ASSERT_TRUE(
      WaitUntil([this] { return RegString(L"DeliveryReportMsgID") == L"m1"; }));
}

}  // namespace
}  // namespace mms::testing
