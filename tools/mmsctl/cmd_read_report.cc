// cmd_read_report.cc: `mmsctl read-report NUMBER TEXT`: sends a read report
// with CMMS::MMS_SendReadReport and waits until its silent submission ends.
#include <cstdio>
#include <string>

#include "client/threads.h"
#include "mms.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"
#include "tools/mmsctl/compose_options.h"
#include "tools/mmsctl/net_wait.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "read-report";
constexpr int kDefaultTimeoutS = 60;

namespace client = mms::client;

bool IsPhoneNumber(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!(c >= '0' && c <= '9') && !(c == '+' && i == 0)) {
      return false;
    }
  }
  return text != "+";
}

int Run(const Args& args) {
  int timeout_s = kDefaultTimeoutS;
  Args rest;
  int code = TakeTimeout(kName, args, &timeout_s, &rest);
  if (code != kOk) {
    return code;
  }
  if (rest.size() != 2) {
    return Fail(kName, "needs a NUMBER and a TEXT (see --help)", kUsage);
  }
  if (!IsPhoneNumber(rest[0])) {
    return Fail(kName, "bad number '" + rest[0] + "' (digits, '+' first)",
                kUsage);
  }
  code = ProbeOperator(kName);
  if (code != kOk) {
    return code;
  }
  ProgressLine progress;
  std::wstring number = Wide(rest[0]);
  std::wstring text = Wide(rest[1]);
  CMMS::MMS_SendReadReport(number.data(), text.data());
  if (!client::WaitForWorkers(static_cast<uint32_t>(timeout_s) * 1000)) {
    return Fail(kName, "the read report was not sent within " +
                           std::to_string(timeout_s) + " s");
  }
  progress.Finish();
  std::printf("read report to %s sent\n", rest[0].c_str());
  return kOk;
}

const Registration kRegistration({
    kName,
    "send a read report to a number",
    "usage: mmsctl read-report NUMBER TEXT [--timeout SECONDS]\n"
    "\n"
    "Sends a read report carrying TEXT to NUMBER through the WAP proxy and\n"
    "waits until its submission has ended. The library publishes no result\n"
    "for read reports, so success means the submission ran to its end.\n"
    "\n"
    "  --timeout SECONDS  how long to wait (default 60)\n"
    "\n"
    "Exit codes: 0 sent, 1 failed (proxy or centre unreachable, not done in\n"
    "time), 2 bad usage (bad number, missing text).\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
