// cmd_listen.cc: `mmsctl listen`: runs the library's listener (CMMS::Start)
// and prints each push group it publishes ("WapState" changes) until a
// signal, --count groups or --timeout seconds; then CMMS::Stop.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "codec/header_table.h"
#include "mms.h"
#include "store/registry_values.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose_options.h"
#include "tools/mmsctl/dump_names.h"
#include "tools/mmsctl/dump_values.h"
#include "tools/mmsctl/net_wait.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "listen";
constexpr int kPollMs = 20;

namespace store = mms::store;

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

// A pushed value as it may be printed: control characters escaped.
std::string Received(const wchar_t* name) {
  return dump::Escaped(ReadTextValue(name));
}

void PrintGroup() {
  DWORD type = 0;
  ReadDwordValue(store::kWapType, &type);
  const char* name =
      HeaderValueName(mms::codec::kMessageType, static_cast<uint8_t>(type));
  std::printf("push: %s (WapType %u)\n", name != nullptr ? name : "unknown",
              type);
  if (type == 130) {  // m-notification-ind
    std::printf("  WapPhone: %s\n", Received(store::kWapPhone).c_str());
    std::printf("  WapUrl:   %s\n", Received(store::kWapUrl).c_str());
  } else if (type == 134) {  // m-delivery-ind
    std::printf("  DeliveryReportPhone:  %s\n",
                Received(store::kDeliveryReportPhone).c_str());
    std::printf("  DeliveryReportMsgID:  %s\n",
                Received(store::kDeliveryReportMsgId).c_str());
    std::printf("  DeliveryReportStatue: %s\n",
                Received(store::kDeliveryReportStatue).c_str());
  }
  std::fflush(stdout);
}

int Run(const Args& args) {
  int count = 0;    // 0: no limit
  int timeout = 0;  // seconds, 0: no limit
  for (size_t i = 0; i < args.size(); ++i) {
    const bool is_count = args[i] == "--count";
    if (!is_count && args[i] != "--timeout") {
      return Fail(kName, "unknown argument '" + args[i] + "' (see --help)",
                  kUsage);
    }
    int* target = is_count ? &count : &timeout;
    if (i + 1 >= args.size() || !ParseNumber(args[i + 1], 1, 86400, target)) {
      return Fail(kName, args[i] + " needs a number (1-86400)", kUsage);
    }
    ++i;
  }
  if (!PushRouterRunning()) {
    return Fail(kName,
                "no push router is running for this device root (start "
                "mms-pushrouter)");
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  DWORD state = StateNow(store::kWapState);
  if (CMMS::Start() != 0) {
    return Fail(kName, "the listener could not be started");
  }
  std::printf("listening for pushes\n");
  std::fflush(stdout);
  int groups = 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
  while (g_stop == 0 && (count == 0 || groups < count) &&
         (timeout == 0 || std::chrono::steady_clock::now() < deadline)) {
    const DWORD now = StateNow(store::kWapState);
    if (now != state) {
      state = now;
      PrintGroup();
      ++groups;
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  CMMS::Stop();
  std::printf("stopped after %d push%s\n", groups, groups == 1 ? "" : "es");
  return kOk;
}

const Registration kRegistration({
    kName,
    "run the listener and print each push it publishes",
    "usage: mmsctl listen [--count N] [--timeout SECONDS]\n"
    "\n"
    "Starts the library's listener on the push router of this device root\n"
    "and prints each push group it publishes (a change of \"WapState\"):\n"
    "the \"WapType\" by name, then \"WapPhone\" and \"WapUrl\" of a\n"
    "notification or the delivery report values. Runs until SIGINT or\n"
    "SIGTERM, N groups, or SECONDS, then stops the listener.\n"
    "\n"
    "Exit codes: 0 stopped normally, 1 no push router running or the\n"
    "listener could not start, 2 bad usage.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
