// cmd_prompts.cc: `mmsctl prompts`: the library's prompts that wait for a
// user in processes without a terminal; lists them and answers them.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/prompt.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "prompts";

int List(const std::vector<mms::platform::PendingPrompt>& pending) {
  if (pending.empty()) {
    std::printf("no prompt is waiting\n");
    return kOk;
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::printf("%-6s %-8s %-6s %s\n", "ID", "PROCESS", "AGE", "PROMPT");
  for (const auto& p : pending) {
    std::printf("%-6lld %-8u %-6s [%s] %s\n", static_cast<long long>(p.id),
                p.pid, (std::to_string(now - p.shown_at) + "s").c_str(),
                Utf8(p.caption).c_str(), Utf8(p.text).c_str());
  }
  return kOk;
}

int Run(const Args& args) {
  std::vector<mms::platform::PendingPrompt> pending;
  if (!mms::platform::ListPendingPrompts(&pending)) {
    return Fail(kName, "cannot read the registry database");
  }
  if (args.empty()) {
    return List(pending);
  }
  if (args.size() == 1 && args[0] == "--answer-all") {
    for (const auto& p : pending) {
      if (mms::platform::AnswerPrompt(p.id)) {
        std::printf("answered %lld\n", static_cast<long long>(p.id));
      }
    }
    return kOk;
  }
  if (args.size() == 2 && args[0] == "--answer") {
    char* end = nullptr;
    const long long id = std::strtoll(args[1].c_str(), &end, 10);
    if (args[1].empty() || *end != '\0') {
      return Fail(kName, "bad prompt ID: " + args[1], kUsage);
    }
    if (!mms::platform::AnswerPrompt(id)) {
      return Fail(kName, "no prompt " + args[1] + " is waiting");
    }
    std::printf("answered %lld\n", id);
    return kOk;
  }
  return Fail(kName, "unknown arguments (see --help)", kUsage);
}

const Registration kRegistration({
    kName,
    "list and answer prompts waiting for a user",
    "usage: mmsctl prompts [--answer ID | --answer-all]\n"
    "\n"
    "A process of the library without a terminal keeps each message box\n"
    "(caption \"Prompt\") waiting here until it is answered; the thread that\n"
    "shows it, and with it push handling, waits until then.\n"
    "\n"
    "Without options, lists the waiting prompts: ID, process, age, caption\n"
    "and text. Prompts of processes that ended are dropped.\n"
    "\n"
    "  --answer ID    answer one prompt (its OK button)\n"
    "  --answer-all   answer every waiting prompt\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
