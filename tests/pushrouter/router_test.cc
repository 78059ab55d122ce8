// router_test.cc: the real router process (mms-pushrouter) on a free
// loopback port with this test's device root, fed real UDP datagrams, and
// the listener receiving from it in order; killed routers and listeners
// lose no push.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "centre/centre_harness.h"
#include "mms.h"
#include "push/test_seams.h"
#include "push_bodies.h"
#include "pushrouter/push_datagram.h"
#include "pushrouter/push_router.h"
#include "pushrouter/push_store.h"
#include "support/test_support.h"

namespace mms::pushrouter {
namespace {

using mms::testing::Bytes;
using mms::testing::Hex;
using mms::testing::NotificationBody;
using mms::testing::RegString;

const std::string kRouterBinary = MMS_BINARY_DIR "/mms-pushrouter";
const std::string kMmsctl = MMS_BINARY_DIR "/mmsctl";

bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

Bytes MmsPush(const Bytes& body) {
  Bytes datagram;
  EXPECT_TRUE(BuildPushDatagram(0x01, kMmsMessageType, {}, body, &datagram));
  return datagram;
}

class RouterTest : public mms::testing::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, access(kRouterBinary.c_str(), X_OK))
        << "build the mms-pushrouter target first";
    ASSERT_TRUE(store_.Open(PushStorePath()));
    setenv("MMS_DEVICE_ROOT", root_.host().c_str(), 1);  // for the children
    unsetenv("MMS_PUSH_ADDR");
    StartRouter();
  }
  void TearDown() override {
    StopRouter(SIGTERM);
    unsetenv("MMS_DEVICE_ROOT");
    DeviceTest::TearDown();
  }

  // Runs `path args...` with this test's device root; returns its pid.
  // Output goes to a log in the root, never to the test's own pipes, and
  // the child dies with the test, even when the test crashes.
  pid_t Spawn(const std::string& path, std::vector<std::string> args) {
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& a : args) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const std::string log = root_.host() + "/spawned.log";
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    EXPECT_GT(pid, 0);
    return pid;
  }

  // Runs a program to its end; its exit code.
  int Run(const std::string& path, const std::vector<std::string>& args) {
    return mms::testing::RunTool(path, args, root_.host()).code;
  }

  void StartRouter() {
    router_ = Spawn(kRouterBinary, {"--port", "0"});
    RouterRow row;
    ASSERT_TRUE(WaitUntil([&] {
      bool live = false;
      return store_.Router(&row, &live) && live &&
             row.pid == static_cast<uint32_t>(router_);
    })) << "the router did not start";
    port_ = row.port;
  }

  void StopRouter(int signal) {
    if (router_ > 0) {
      kill(router_, signal);
      int status = 0;
      waitpid(router_, &status, 0);
      router_ = -1;
    }
  }

  void Send(const Bytes& datagram) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port_));
    EXPECT_EQ(static_cast<ssize_t>(datagram.size()),
              sendto(fd, datagram.data(), datagram.size(), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof(to)));
    close(fd);
  }

  int64_t Count(const std::string& name) {
    std::map<std::string, int64_t> counts;
    EXPECT_TRUE(store_.Counts(&counts));
    return counts.count(name) != 0 ? counts[name] : 0;
  }

  int64_t Waiting() {
    std::map<std::string, int64_t> waiting;
    EXPECT_TRUE(store_.WaitingByType(&waiting));
    return waiting[kMmsMessageType];
  }

  PushStore store_;
  pid_t router_ = -1;
  int port_ = 0;
};

TEST_F(RouterTest, APushWithNoListenerStartsTheProgramAndWaitsForIt) {
  // The registered program records its arguments.
  const std::string program = Host(L"\\program files\\Varnholt\\Tallow.exe");
  mms::testing::WriteHostFile(
      program, std::string("#!/bin/sh\necho \"$@\" >> \"$MMS_DEVICE_ROOT/"
                           "args.txt\"\n"));
  ASSERT_EQ(0, chmod(program.c_str(), 0755));
  CMMS mms;
  ASSERT_EQ(0, mms.RegisterClient());

  // A bare MMS PDU from a file, through mmsctl.
  const std::string file = root_.host() + "/notification.mms";
  mms::testing::WriteHostFile(file, NotificationBody("http://mmsc/queued"));
  ASSERT_EQ(0, Run(kMmsctl, {"push", file}));

  const std::string args = root_.host() + "/args.txt";
  ASSERT_TRUE(WaitUntil([&] { return mms::testing::HostFileExists(args); }));
  ASSERT_TRUE(WaitUntil([&] { return Count("launched") == 1; }));
  const Bytes recorded = mms::testing::ReadHostFile(args);
  EXPECT_EQ("/run\n", std::string(recorded.begin(), recorded.end()));
  EXPECT_EQ(1, Waiting());

  EXPECT_EQ(0, mms.GetMMS_WapPush(200));
  EXPECT_EQ(L"http://mmsc/queued", RegString(L"WapUrl"));
  EXPECT_EQ(0, Waiting());
}

// Recorded where HandMessage decodes each push, by transaction ID.
std::mutex g_handed_mu;
std::vector<std::string> g_handed;

// Half a burst while nobody listens (the registered program is missing, so
// nothing starts), the other half while a listener takes them; the queued
// half is handed out in the order it came.
TEST_F(RouterTest, EveryPushOfABurstReachesHandMessageAndOneLaunchFails) {
  mms::push::test::ObserveHandedPushes([](const char* id) {
    std::lock_guard<std::mutex> lock(g_handed_mu);
    g_handed.push_back(id);
  });
  CMMS mms;
  ASSERT_EQ(0, mms.RegisterClient());
  constexpr size_t kBurst = 1000;
  auto send = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      const std::string n = std::to_string(i);
      Send(MmsPush(NotificationBody("http://mmsc/" + n, "t" + n)));
    }
  };
  // The router sleeps through the first half: the kernel must keep it.
  kill(router_, SIGSTOP);
  send(0, kBurst / 2);
  kill(router_, SIGCONT);
  EXPECT_TRUE(
      WaitUntil([&] { return Count("accepted") == kBurst / 2; }, 120000))
      << Count("received") << " received";
  EXPECT_EQ(kBurst / 2, Waiting());
  EXPECT_EQ(1, Count("launch-failed"));
  std::atomic<bool> done{false};
  std::thread listener([&] {
    while (!done) {
      mms.GetMMS_WapPush(200);
    }
  });
  send(kBurst / 2, kBurst);
  auto handed = [] {
    std::lock_guard<std::mutex> lock(g_handed_mu);
    return g_handed.size();
  };
  EXPECT_TRUE(WaitUntil([&] { return handed() == kBurst; }, 120000))
      << handed() << " handed, " << Count("accepted") << " accepted";
  done = true;
  listener.join();
  mms::push::test::ObserveHandedPushes(nullptr);
  for (size_t i = 0; i < kBurst / 2 && i < g_handed.size(); ++i) {
    ASSERT_EQ("t" + std::to_string(i), g_handed[i]);
  }
}

TEST_F(RouterTest, MalformedDatagramsAreDroppedAndCounted) {
  CMMS mms;
  ASSERT_EQ(0, mms.RegisterClient());
  const Bytes good = MmsPush(NotificationBody("http://mmsc/good"));
  Send(Hex("01"));                             // truncated
  Send(Hex("01 07 01 be 8c 82"));              // ConfirmedPush
  Send(Hex("01 06 40 be 8c 82"));              // headers past the end
  Send(Bytes(kMaxPushDatagram + 4000, 0x06));  // oversized
  Bytes text_plain;
  ASSERT_TRUE(BuildPushDatagram(2, "text/plain", {}, Hex("41"), &text_plain));
  Send(text_plain);  // nobody registered it
  Send(good);
  ASSERT_TRUE(WaitUntil([&] { return Count("received") == 6; }));
  EXPECT_EQ(4, Count("malformed"));
  for (const char* reason :
       {"truncated", "not-push", "headers-past-end", "oversized"}) {
    EXPECT_EQ(1, Count(std::string("malformed.") + reason)) << reason;
  }
  EXPECT_EQ(1, Count("refused"));
  EXPECT_EQ(1, Count("accepted"));
  EXPECT_EQ(1, Waiting());
  EXPECT_EQ(0, kill(router_, 0)) << "the router died";
}

TEST_F(RouterTest, RefusesASecondRouterAndAddressesOffLoopback) {
  EXPECT_EQ(1, Run(kRouterBinary, {"--port", "0"}));
  EXPECT_EQ(2, Run(kRouterBinary, {"--address", "192.0.2.1:2948"}));
  EXPECT_EQ(2, Run(kRouterBinary, {"--port", "70000"}));
  RouterRow row;
  bool live = false;
  ASSERT_TRUE(store_.Router(&row, &live));
  EXPECT_TRUE(live);
  EXPECT_EQ(static_cast<uint32_t>(router_), row.pid);  // still the first
}

// A listener killed before freeing the push it took, then the router
// killed: the push stays queued for the next listener of the next router.
TEST_F(RouterTest, KilledListenersAndRoutersLoseNoQueuedPush) {
  CMMS mms;
  ASSERT_EQ(0, mms.RegisterClient());
  Send(MmsPush(NotificationBody("http://mmsc/retried")));
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 1; }));

  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  const pid_t child = fork();
  if (child == 0) {
    // A listener that takes the push and dies before freeing it.
    HANDLE event = nullptr, router = nullptr;
    PUSHMSG push = {};
    push.cbSize = sizeof(push);
    const char taken = PushRouter_Open(L"application/vnd.wap.mms-message",
                                       nullptr, &event, &router) == kPushOk &&
                               PushRouter_GetMessage(router, &push) == kPushOk
                           ? 'y'
                           : 'n';
    (void)!write(ready[1], &taken, 1);
    pause();
    _exit(0);
  }
  char taken = 0;
  ASSERT_EQ(1, read(ready[0], &taken, 1));
  EXPECT_EQ('y', taken);
  EXPECT_EQ(0, Waiting());  // taken by a live listener
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);

  EXPECT_EQ(1, Waiting());
  StopRouter(SIGKILL);
  EXPECT_EQ(-1, mms.GetMMS_WapPush(100));  // no router: nothing opens
  EXPECT_EQ(kPushNoRouter, mms.m_lResult);

  StartRouter();
  EXPECT_EQ(0, mms.GetMMS_WapPush(200));  // the dead hold is no obstacle
  EXPECT_EQ(L"http://mmsc/retried", RegString(L"WapUrl"));
  EXPECT_EQ(0, Waiting());
}

}  // namespace
}  // namespace mms::pushrouter
