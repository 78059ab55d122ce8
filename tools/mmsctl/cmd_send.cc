// cmd_send.cc: `mmsctl send`: composes a message as `save` does, submits
// it with CMMS::MMS_Send and waits for the result the library publishes
// ("SendState" changes, then "SendOK" and "MessageID" are read). The
// centre's answer (status and text) comes from the submission's report.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "client/threads.h"
#include "codec/header_table.h"
#include "mms.h"
#include "platform/winapi.h"
#include "store/registry_values.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"
#include "tools/mmsctl/compose_options.h"
#include "tools/mmsctl/dump_names.h"
#include "tools/mmsctl/net_wait.h"
#include "transport/transport.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "send";
constexpr int kDefaultTimeoutS = 60;
constexpr uint32_t kWorkerGraceMs = 5000;

namespace client = mms::client;
namespace store = mms::store;
namespace transport = mms::transport;

// The report of the user's message (not of acknowledgements that other
// threads may submit meanwhile).
class LastReport {
 public:
  LastReport() {
    transport::SetSubmissionHook([this](const transport::SubmissionReport& r) {
      if (r.message_type == mms::codec::kMsgSendReq) {
        std::lock_guard<std::mutex> lock(mu_);
        report_ = r;
      }
    });
  }
  ~LastReport() { transport::SetSubmissionHook(nullptr); }
  transport::SubmissionReport Get() {
    std::lock_guard<std::mutex> lock(mu_);
    return report_;
  }

 private:
  std::mutex mu_;
  transport::SubmissionReport report_;  // guarded by mu_
};

int Run(const Args& args) {
  int timeout_s = kDefaultTimeoutS;
  Args compose_args;
  int code = TakeTimeout(kName, args, &timeout_s, &compose_args);
  if (code != kOk) {
    return code;
  }
  auto message = std::make_unique<MMS_Custom_Data>();
  code = ComposeFromCommandLine(kName, compose_args, message.get());
  if (code != kOk) {
    return code;
  }
  code = ProbeOperator(kName);
  if (code != kOk) {
    return code;
  }

  ProgressLine progress;
  LastReport last;
  const DWORD before = StateNow(store::kSendState);
  wchar_t saved[MAX_PATH] = {};
  wchar_t scratch[MAX_PATH] = {};
  if (CMMS::MMS_Send(message.get(), saved, scratch, 0) != 0) {
    client::WaitForWorkers(kWorkerGraceMs);  // a submission may have started
    return Fail(kName, "the message could not be encoded, stored or sent");
  }
  message.release();  // MMS_Send took it
  if (!WaitForStateChange(store::kSendState, before, timeout_s * 1000)) {
    return Fail(kName, "no result from the MMS centre within " +
                           std::to_string(timeout_s) + " s");
  }
  client::WaitForWorkers(kWorkerGraceMs);
  progress.Finish();
  DWORD ok = 0;
  ReadDwordValue(store::kSendOk, &ok);
  std::printf("saved:     %s\n", Utf8(saved).c_str());
  std::printf("SendOK:    %u\n", ok);
  std::printf("MessageID: %s\n", ReadTextValue(store::kMessageId).c_str());
  const transport::SubmissionReport report = last.Get();
  if (report.http_status != 0) {
    std::printf("HTTP:      %ld\n", report.http_status);
  }
  if (report.response_status != 0) {
    const char* name =
        HeaderValueName(mms::codec::kResponseStatus, report.response_status);
    std::printf("Response-Status: %u (%s)\n", report.response_status,
                name != nullptr ? name : "unknown");
  }
  if (!report.response_text.empty()) {
    std::string text = report.response_text;
    for (char& c : text) {
      c = static_cast<unsigned char>(c) < 32 || c == 127 ? '?' : c;
    }
    std::printf("Response-Text:   %s\n", text.c_str());
  }
  if (ok != 1) {
    return Fail(kName, "the MMS centre did not accept the message" +
                           (report.reason.empty() ? std::string()
                                                  : ": " + report.reason));
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
    "the library publishes the result; prints the saved file, \"SendOK\",\n"
    "\"MessageID\" and the centre's answer (HTTP status, "
    "X-Mms-Response-Status\n"
    "and Response-Text). Both addresses are probed first; `mmsctl settings`\n"
    "shows the operator settings in force.\n"
    "\n" MMSCTL_COMPOSE_OPTIONS_HELP
    "  --timeout SECONDS       how long to wait for the result (default 60)\n"
    "\n"
    "Exit codes: 0 accepted (SendOK 1), 1 failed (missing file, proxy or\n"
    "centre unreachable, refused, no result in time), 2 bad usage.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
