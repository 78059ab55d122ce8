// cmd_retrieve.cc: `mmsctl retrieve URL`: fetches an announced message with
// CMMS::MMS_Recived, waits for "ReciveState" to change, prints "NewMMS" and
// "NewMMSName", then waits for the acknowledgement's silent submission.
#include <cstdio>
#include <string>

#include "client/threads.h"
#include "mms.h"
#include "store/registry_values.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"
#include "tools/mmsctl/compose_options.h"
#include "tools/mmsctl/net_wait.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "retrieve";
constexpr int kDefaultTimeoutS = 60;

namespace client = mms::client;
namespace store = mms::store;

int Run(const Args& args) {
  int timeout_s = kDefaultTimeoutS;
  Args rest;
  int code = TakeTimeout(kName, args, &timeout_s, &rest);
  if (code != kOk) {
    return code;
  }
  std::string url;
  for (const std::string& arg : rest) {
    if (!url.empty() || arg.empty() || arg[0] == '-') {
      return Fail(kName, "unexpected argument '" + arg + "' (see --help)",
                  kUsage);
    }
    url = arg;
  }
  if (url.empty()) {
    return Fail(kName, "needs the URL of the message (see --help)", kUsage);
  }
  if (url.size() >= MAX_PATH) {
    return Fail(kName, "URL longer than 259 characters", kUsage);
  }
  code = ProbeOperator(kName);
  if (code != kOk) {
    return code;
  }

  ProgressLine progress;
  const DWORD before = StateNow(store::kReciveState);
  std::wstring wide = Wide(url);
  if (CMMS::MMS_Recived(wide.data()) != 0) {
    return Fail(kName, "the retrieval could not be started");
  }
  if (!WaitForStateChange(store::kReciveState, before, timeout_s * 1000)) {
    return Fail(kName, "no message from " + url + " within " +
                           std::to_string(timeout_s) + " s");
  }
  progress.Finish();
  DWORD fetched = 0;
  ReadDwordValue(store::kNewMms, &fetched);
  std::printf("NewMMS:     %u\n", fetched);
  std::printf("NewMMSName: %s\n", ReadTextValue(store::kNewMmsName).c_str());
  std::fflush(stdout);
  // The acknowledgement goes out silently; leaving earlier would end it.
  if (!client::WaitForWorkers(static_cast<uint32_t>(timeout_s) * 1000)) {
    return Fail(kName, "the acknowledgement did not finish in time");
  }
  if (fetched != 1) {
    return Fail(kName, "the message could not be fetched from " + url);
  }
  return kOk;
}

const Registration kRegistration({
    kName,
    "fetch an announced message and acknowledge it",
    "usage: mmsctl retrieve URL [--timeout SECONDS]\n"
    "\n"
    "Fetches the message at URL (the \"WapUrl\" of a notification) through\n"
    "the WAP proxy, stores it in the device root, prints \"NewMMS\" and\n"
    "\"NewMMSName\", and waits until its acknowledgement has been sent.\n"
    "\n"
    "  --timeout SECONDS  how long to wait for each step (default 60)\n"
    "\n"
    "Exit codes: 0 fetched (NewMMS 1), 1 failed (proxy or centre unreachable,\n"
    "nothing at the URL, no result in time), 2 bad usage.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
