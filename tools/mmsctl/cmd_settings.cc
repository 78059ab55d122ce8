// cmd_settings.cc: `mmsctl settings`: the operator settings the library
// uses now, and where each comes from (the environment or built in).
#include <cstdio>

#include "tools/mmsctl/command.h"
#include "transport/operator.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "settings";

int Run(const Args& args) {
  if (!args.empty()) {
    return Fail(kName, "takes no arguments (see --help)", kUsage);
  }
  for (const auto& s : mms::transport::SettingsInForce()) {
    std::printf("%-15s %-40s (%s)\n", s.variable, s.value.c_str(),
                s.from_environment ? "environment" : "built in");
  }
  return kOk;
}

const Registration kRegistration({
    kName,
    "show the operator settings in force and where they come from",
    "usage: mmsctl settings\n"
    "\n"
    "Prints each operator setting the library uses now, with its source:\n"
    "  MMS_WAP_PROXY   host:port of the WAP proxy, or none to send directly\n"
    "  MMS_MMSC_HOST   host[:port] of the MMS centre (posted to at \"//\"),\n"
    "                  or its whole URL http://host[:port]/path\n"
    "  MMS_USER_AGENT  User-Agent of every request\n"
    "  MMS_UAPROF      URL sent as x-wap-profile, or none\n"
    "A variable that is unset or empty leaves the built-in value.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
