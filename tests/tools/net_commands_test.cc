// net_commands_test.cc: mmsctl send, retrieve, read-report and listen as a
// user runs them: usage errors, nothing listening, and a whole exchange
// with the loopback centre, tinyproxy and the push router.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/test_support.h"
#include "support/tshark.h"

namespace mmsctl {
namespace {

using mms::testing::FreeTcpPort;
using mms::testing::TinyProxy;

const std::string kBin = MMS_BINARY_DIR;
const std::string kSuppressions =
    MMS_SOURCE_DIR "/tests/tools/lsan_suppressions.txt";

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A child process with its output in a file; SIGTERM and reaped on scope
// exit.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& log) {
    pid_ = fork();
    if (pid_ == 0) {
      FILE* out = std::freopen(log.c_str(), "w", stdout);
      if (out == nullptr || dup2(fileno(stdout), 2) < 0) {
        _exit(127);
      }
      std::vector<char*> args;
      for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
      }
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() { Stop(); }
  // Exit status, after SIGTERM when still running.
  int Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      return Wait();
    }
    return status_;
  }
  int Wait() {
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

bool WaitFor(const std::string& file, const std::string& text, int seconds) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (Slurp(file).find(text) != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The value after "label" up to the end of its line.
std::string Field(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos) {
    return "";
  }
  at += label.size();
  while (at < text.size() && text[at] == ' ') {
    ++at;
  }
  return text.substr(at, text.find('\n', at) - at);
}

class NetCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kBin + "/mmsctl"));
    scratch_ = root_.host() + "-net";
    std::filesystem::create_directories(scratch_);
    // Nothing listens on any of these until a test starts it.
    setenv("MMS_DEVICE_ROOT", root_.host().c_str(), 1);
    SetAddress("MMS_WAP_PROXY", FreeTcpPort());
    SetAddress("MMS_MMSC_HOST", FreeTcpPort());
    SetAddress("MMS_PUSH_ADDR", FreeTcpPort());
    setenv("LSAN_OPTIONS", ("suppressions=" + kSuppressions).c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  static void SetAddress(const char* name, int port) {
    setenv(name, ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
  }
  static int PortOf(const char* name) {
    const std::string v = std::getenv(name);
    return std::stoi(v.substr(v.rfind(':') + 1));
  }

  Outcome Run(const std::vector<std::string>& args) {
    std::string command = "'" + kBin + "/mmsctl'";
    for (const std::string& a : args) {
      command += " '" + a + "'";
    }
    command += " >'" + scratch_ + "/out' 2>'" + scratch_ + "/err'";
    Outcome o;
    const int status = std::system(command.c_str());
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Slurp(scratch_ + "/out");
    o.err = Slurp(scratch_ + "/err");
    return o;
  }

  // One line on stderr, naming the command, holding what.
  static void ExpectOneLine(const Outcome& o, const std::string& command,
                            const std::string& what, int code) {
    EXPECT_EQ(code, o.code) << o.err;
    EXPECT_EQ(0u, o.err.rfind("mmsctl " + command + ": ", 0)) << o.err;
    EXPECT_EQ(1, std::count(o.err.begin(), o.err.end(), '\n')) << o.err;
    EXPECT_NE(std::string::npos, o.err.find(what)) << o.err;
  }

  std::string Picture() {
    const std::string path = scratch_ + "/dot.gif";
    const unsigned char gif[] = {'G', 'I',  'F', '8', '9',  'a', 1, 0,   1,
                                 0,   0x80, 0,   0,   0xff, 0,   0, 0,   0,
                                 0,   0x2c, 0,   0,   0,    0,   1, 0,   1,
                                 0,   0,    2,   2,   0x44, 1,   0, 0x3b};
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(gif), sizeof(gif));
    return path;
  }

  mms::testing::ScopedDeviceRoot root_;
  std::string scratch_;
};

TEST_F(NetCommands, BadUsageIsExitTwoWithOneLine) {
  ExpectOneLine(Run({"send"}), "send", "--to is required", 2);
  ExpectOneLine(Run({"send", "--to", "1380", "--timeout", "soon"}), "send",
                "--timeout", 2);
  ExpectOneLine(Run({"send", "--to", "1380", "--timeout"}), "send", "--timeout",
                2);
  ExpectOneLine(Run({"retrieve"}), "retrieve", "needs the URL", 2);
  ExpectOneLine(Run({"retrieve", "http://a/1", "http://a/2"}), "retrieve",
                "unexpected argument 'http://a/2'", 2);
  ExpectOneLine(Run({"retrieve", "http://a/" + std::string(260, 'x')}),
                "retrieve", "longer than 259", 2);
  ExpectOneLine(Run({"read-report", "1380"}), "read-report",
                "needs a NUMBER and a TEXT", 2);
  ExpectOneLine(Run({"read-report", "13a80", "seen"}), "read-report",
                "bad number '13a80'", 2);
  ExpectOneLine(Run({"read-report", "+", "seen"}), "read-report", "bad number",
                2);
  ExpectOneLine(Run({"listen", "--count", "0"}), "listen", "--count", 2);
  ExpectOneLine(Run({"listen", "--forever"}), "listen",
                "unknown argument '--forever'", 2);
  for (const char* command : {"send", "retrieve", "read-report", "listen"}) {
    const Outcome help = Run({command, "--help"});
    EXPECT_EQ(0, help.code) << command;
    EXPECT_EQ(0u, help.out.rfind(std::string("usage: mmsctl ") + command, 0))
        << help.out;
  }
}

TEST_F(NetCommands, NothingListeningIsNamed) {
  const std::string proxy = std::getenv("MMS_WAP_PROXY");
  const std::string centre = std::getenv("MMS_MMSC_HOST");
  const std::string picture = Picture();
  ExpectOneLine(Run({"send", "--to", "13800000001", "--slide", picture}),
                "send", "WAP proxy " + proxy + " is unreachable", 1);
  ExpectOneLine(Run({"retrieve", "http://" + centre + "/x.1"}), "retrieve",
                "WAP proxy " + proxy + " is unreachable", 1);
  ExpectOneLine(Run({"read-report", "13800000001", "seen"}), "read-report",
                "WAP proxy " + proxy + " is unreachable", 1);
  ExpectOneLine(Run({"listen", "--timeout", "1"}), "listen",
                "no push router is running", 1);

  TinyProxy tinyproxy;
  ASSERT_TRUE(tinyproxy.running());
  setenv("MMS_WAP_PROXY", tinyproxy.address().c_str(), 1);
  ExpectOneLine(Run({"send", "--to", "13800000001", "--slide", picture}),
                "send", "MMS centre " + centre + " is unreachable", 1);
  // Refused before anything was submitted or stored.
  const std::string folder = root_.host() + "/Windows/Messaging";
  EXPECT_TRUE(!std::filesystem::exists(folder) ||
              std::filesystem::is_empty(folder));
}

TEST_F(NetCommands, MissingFileIsNamedBeforeAnyNetwork) {
  ExpectOneLine(
      Run({"send", "--to", "13800000001", "--slide", scratch_ + "/none.gif"}),
      "send", "none.gif", 1);
}

// The whole exchange through the real programs: a listener publishes the
// notification of a sent message, retrieve fetches and acknowledges it, the
// centre's delivery report reaches the listener, and a read report goes out.
TEST_F(NetCommands, SendListenRetrieveAndReadReportAgainstTheCentre) {
  TinyProxy tinyproxy;
  ASSERT_TRUE(tinyproxy.running());
  setenv("MMS_WAP_PROXY", tinyproxy.address().c_str(), 1);
  const std::string push = std::getenv("MMS_PUSH_ADDR");
  Child router({kBin + "/mms-pushrouter"}, scratch_ + "/router.log");
  Child centre({kBin + "/mms-centre", "--port",
                std::to_string(PortOf("MMS_MMSC_HOST")), "--push-to", push},
               scratch_ + "/centre.log");
  ASSERT_TRUE(WaitFor(scratch_ + "/centre.log", "listening on", 10));
  ASSERT_TRUE(WaitFor(scratch_ + "/router.log", "listening on", 10));

  Child listener(
      {kBin + "/mmsctl", "listen", "--count", "2", "--timeout", "60"},
      scratch_ + "/listen.log");
  ASSERT_TRUE(WaitFor(scratch_ + "/listen.log", "listening for pushes", 10))
      << Slurp(scratch_ + "/listen.log");

  const Outcome sent = Run({"send", "--to", "13800000001", "--subject", "hello",
                            "--slide", Picture(), "--text", "0", "hi",
                            "--delivery-report", "--timeout", "30"});
  ASSERT_EQ(0, sent.code) << sent.err;
  EXPECT_EQ("1", Field(sent.out, "SendOK:"));
  const std::string id = Field(sent.out, "MessageID:");
  ASSERT_FALSE(id.empty()) << sent.out;
  std::string saved = Field(sent.out, "saved:");
  std::replace(saved.begin(), saved.end(), '\\', '/');
  EXPECT_TRUE(std::filesystem::exists(root_.host() + saved)) << saved;

  ASSERT_TRUE(WaitFor(scratch_ + "/listen.log", "WapUrl:", 20));
  const std::string listened = Slurp(scratch_ + "/listen.log");
  EXPECT_NE(std::string::npos,
            listened.find("push: m-notification-ind (WapType 130)"));
  const std::string url = Field(listened, "WapUrl:");
  EXPECT_NE(std::string::npos, url.find(id)) << url;

  const Outcome fetched = Run({"retrieve", url, "--timeout", "30"});
  ASSERT_EQ(0, fetched.code) << fetched.err;
  EXPECT_EQ("1", Field(fetched.out, "NewMMS:"));
  EXPECT_NE(std::string::npos,
            Field(fetched.out, "NewMMSName:").find("\\Windows\\Messaging\\"));
  // retrieve returned only after the acknowledgement reached the centre.
  EXPECT_NE(std::string::npos,
            Slurp(scratch_ + "/centre.log")
                .find("acknowledged " + url.substr(url.rfind('/') + 1)));

  EXPECT_EQ(0, listener.Wait()) << Slurp(scratch_ + "/listen.log");
  const std::string report = Slurp(scratch_ + "/listen.log");
  EXPECT_NE(std::string::npos,
            report.find("push: m-delivery-ind (WapType 134)"));
  EXPECT_EQ(id, Field(report, "DeliveryReportMsgID:"));
  EXPECT_NE(std::string::npos, report.find("stopped after 2 pushes"));

  const std::string before = Slurp(scratch_ + "/centre.log");
  const Outcome read = Run({"read-report", "13800000000", "seen"});
  ASSERT_EQ(0, read.code) << read.err;
  // It returned only once its submission had reached the centre.
  const std::string after = Slurp(scratch_ + "/centre.log");
  EXPECT_GT(std::count(after.begin(), after.end(), '\n'),
            std::count(before.begin(), before.end(), '\n'))
      << after;
  EXPECT_NE(std::string::npos, after.find("accepted m-send-req", before.size()))
      << after;
}

// A centre with operators' habits: locations with a query, chunked
// answers, messages without transaction ID, refused recipients. The
// listener (another process) records the notification; retrieve answers
// with an m-notifyresp-ind carrying its ID, which tshark reads clean.
TEST_F(NetCommands, OperatorCentreRefusalsQueriesAndNotificationResponses) {
  TinyProxy tinyproxy;
  ASSERT_TRUE(tinyproxy.running());
  setenv("MMS_WAP_PROXY", tinyproxy.address().c_str(), 1);
  const std::string store = scratch_ + "/store";
  Child router({kBin + "/mms-pushrouter"}, scratch_ + "/router.log");
  Child centre({kBin + "/mms-centre", "--port",
                std::to_string(PortOf("MMS_MMSC_HOST")), "--push-to",
                std::getenv("MMS_PUSH_ADDR"), "--location", "/m/get?l={id}&r=7",
                "--chunked", "--omit-transaction-id", "--store", store},
               scratch_ + "/centre.log");
  ASSERT_TRUE(WaitFor(scratch_ + "/centre.log", "listening on", 10));
  ASSERT_TRUE(WaitFor(scratch_ + "/router.log", "listening on", 10));
  Child listener(
      {kBin + "/mmsctl", "listen", "--count", "1", "--timeout", "60"},
      scratch_ + "/listen.log");
  ASSERT_TRUE(WaitFor(scratch_ + "/listen.log", "listening for pushes", 10));

  const Outcome refused = Run(
      {"send", "--to", "1380+0001", "--slide", Picture(), "--timeout", "30"});
  EXPECT_EQ(1, refused.code) << refused.err;
  EXPECT_EQ("2", Field(refused.out, "SendOK:"));
  EXPECT_EQ("132 (Error-sending-address-unresolved)",
            Field(refused.out, "Response-Status:"));
  EXPECT_EQ("unknown recipient +861380+0001/TYPE=PLMN",
            Field(refused.out, "Response-Text:"));
  EXPECT_NE(std::string::npos, refused.err.find("refused the message"));

  const Outcome sent = Run(
      {"send", "--to", "13800000001", "--slide", Picture(), "--timeout", "30"});
  ASSERT_EQ(0, sent.code) << sent.err;
  ASSERT_TRUE(WaitFor(scratch_ + "/listen.log", "WapUrl:", 20));
  const std::string url = Field(Slurp(scratch_ + "/listen.log"), "WapUrl:");
  const size_t at = url.find("/m/get?l=");
  ASSERT_NE(std::string::npos, at) << url;
  const std::string id = url.substr(at + 9, url.find('&') - at - 9);

  const Outcome fetched = Run({"retrieve", url, "--timeout", "30"});
  ASSERT_EQ(0, fetched.code) << fetched.err;
  EXPECT_EQ("1", Field(fetched.out, "NewMMS:"));
  const std::string log = Slurp(scratch_ + "/centre.log");
  EXPECT_NE(std::string::npos, log.find("served /m/get?l=" + id + "&r=7 ("))
      << log;
  EXPECT_NE(std::string::npos,
            log.find("took m-notifyresp-ind (Retrieved) for " + id))
      << log;
  if (!mms::testing::TsharkAvailable()) {
    return;  // the bytes' independent reading needs tshark
  }
  const mms::testing::Bytes response =
      mms::testing::ReadHostFile(store + "/" + id + ".notifyresp.mms");
  const auto packets = mms::testing::Dissect(
      mms::testing::PcapOfHttpPosts({response}), scratch_ + "/resp.pcap");
  ASSERT_EQ(1u, packets.size());
  EXPECT_EQ("0x83", mms::testing::Shown(packets[0], "mmse.message_type"));
  EXPECT_EQ(id, mms::testing::Shown(packets[0], "mmse.transaction_id"));
  EXPECT_EQ("0x81", mms::testing::Shown(packets[0], "mmse.status"));
}

}  // namespace
}  // namespace mmsctl
