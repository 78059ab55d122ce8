// demo_test.cc: runs scripts/demo, the README's first command, on the
// programs of this build, with free ports and its own device root, so that
// the demonstration cannot rot.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/loopback.h"
#include "support/test_support.h"

namespace {

// Runs the demo with its options and checks that each step's line appears,
// in order.
void RunDemo(const std::string& options,
             const std::vector<const char*>& steps) {
  mms::testing::ScopedDeviceRoot root;
  const std::string out = root.host() + "-demo.out";
  auto address = [] {
    return "127.0.0.1:" + std::to_string(mms::testing::FreeTcpPort());
  };
  // A free TCP port number is as good as any for the UDP push address.
  const std::string command =
      "MMS_DEMO_BUILD_DIR='" MMS_BINARY_DIR "' MMS_DEVICE_ROOT='" +
      root.host() + "' MMS_WAP_PROXY=" + address() +
      " MMS_MMSC_HOST=" + address() + " MMS_PUSH_ADDR=" + address() +
      " LSAN_OPTIONS=suppressions='" MMS_SOURCE_DIR
      "/tests/tools/lsan_suppressions.txt' '" MMS_SOURCE_DIR "/scripts/demo' " +
      options + " >'" + out + "' 2>&1";
  const int status = std::system(command.c_str());
  const mms::testing::Bytes text = mms::testing::ReadHostFile(out);
  const std::string shown(text.begin(), text.end());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  size_t at = 0;
  for (const char* step : steps) {
    const size_t found = shown.find(step, at);
    ASSERT_NE(std::string::npos, found) << "missing '" << step << "' in\n"
                                        << shown;
    at = found;
  }
  std::filesystem::remove(out);
}

TEST(Demo, RunsTheWholeStoryOnLoopback) {
  RunDemo("",
          {"router: running", "tinyproxy listens on", "mms-centre listens on",
           "SendOK:    1", "push: m-notification-ind", "NewMMS:     1",
           "push: m-delivery-ind", "DeliveryReportStatue: 129", "Slides: 2",
           "chime.mid", "mms-centre: acknowledged", "Demo complete"});
}

// The pushes come as SMS from a stand-in modem through mms-modem.
TEST(Demo, RunsTheStoryWithPushesFromAModem) {
  RunDemo("--modem",
          {"mock modem", "bridging ModemManager", "push: m-notification-ind",
           "NewMMS:     1", "push: m-delivery-ind", "bridge: running",
           "count: modem.stored 2", "Demo complete"});
}

}  // namespace
