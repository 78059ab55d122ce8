// cmd_send.cc: `mmsctl send`: composes a message as `save` does, submits
// it with CMMS::MMS_Send and waits for the result the library publishes
// ("SendState" changes, then "SendOK" and "MessageID" are read).
#include <cstdio>
#include <memory>
#include <string>

#include "client/registry_values.h"
#include "client/threads.h"
#include "mms.h"
#include "platform/winapi.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"
#include "tools/mmsctl/compose_options.h"
#include "tools/mmsctl/net_wait.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "send";
constexpr int kDefaultTimeoutS = 60;
constexpr uint32_t kWorkerGraceMs = 5000;

namespace client = mms::client;

int Run(const Args& args) {
  int timeout_s = kDefaultTimeoutS;
  Args compose_args;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--timeout") {
      compose_args.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], &timeout_s)) {
      return Fail(kName, "--timeout needs a number of seconds (1-86400)",
                  kUsage);
    }
    ++i;
  }
  ComposeRequest request;
  int code = ParseCompose(kName, compose_args, &request);
  if (code != kOk) {
    return code;
  }
  auto message = std::make_unique<MMS_Custom_Data>();
  code = ComposeMessage(kName, request, message.get());
  if (code != kOk) {
    return code;
  }
  code = ProbeOperator(kName);
  if (code != kOk) {
    return code;
  }

  ProgressLine progress;
  const DWORD before = StateNow(client::kSendState);
  wchar_t saved[260] = {};
  wchar_t scratch[260] = {};
  if (CMMS::MMS_Send(message.get(), saved, scratch, 0) != 0) {
    client::WaitForWorkers(kWorkerGraceMs);  // a submission may have started
    return Fail(kName, "the message could not be encoded, stored or sent");
  }
  message.release();  // MMS_Send took it
  if (!WaitForStateChange(client::kSendState, before, timeout_s * 1000)) {
    return Fail(kName, "no result from the MMS centre within " +
                           std::to_string(timeout_s) + " s");
  }
  client::WaitForWorkers(kWorkerGraceMs);
  progress.Finish();
  DWORD ok = 0;
  ReadDwordValue(client::kSendOk, &ok);
  std::printf("saved:     %s\n", Utf8(saved).c_str());
  std::printf("SendOK:    %u\n", ok);
  std::printf("MessageID: %s\n", ReadTextValue(client::kMessageId).c_str());
  if (ok != 1) {
    return Fail(kName, "the MMS centre did not accept the message");
  }
  return kOk;
}

const Registration kRegistration({
    kName,
    "compose a message and send it to the MMS centre",
    "usage: mmsctl send --to NUMBER [options] [--timeout SECONDS]\n"
    "\n"
    "Composes a message as `mmsctl save` does, sends it through the WAP\n"
    "proxy (MMS_WAP_PROXY) to the MMS centre (MMS_MMSC_HOST) and waits until\n"
    "the library publishes the result; prints the saved file, \"SendOK\" and\n"
    "\"MessageID\". Both addresses are probed first.\n"
    "\n"
    MMSCTL_COMPOSE_OPTIONS_HELP
    "  --timeout SECONDS       how long to wait for the result (default 60)\n"
    "\n"
    "Exit codes: 0 accepted (SendOK 1), 1 failed (missing file, proxy or\n"
    "centre unreachable, refused, no result in time), 2 bad usage.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
