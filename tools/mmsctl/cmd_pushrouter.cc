// cmd_pushrouter.cc: `mmsctl pushrouter`: runs the push router stand-in in
// the foreground, or with --status tells what its store holds.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "pushrouter/push_router_service.h"
#include "pushrouter/push_store.h"
#include "tools/mmsctl/command.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "pushrouter";

int Status() {
  mms::pushrouter::PushStore store;
  mms::pushrouter::RouterRow row;
  bool live = false;
  std::vector<mms::pushrouter::Registration> registrations;
  std::map<std::string, int64_t> waiting;
  std::map<std::string, int64_t> counts;
  mms::pushrouter::ProcessId bridge;
  bool bridge_live = false;
  if (!store.Open(mms::pushrouter::PushStorePath()) ||
      !store.Router(&row, &live) || !store.Bridge(&bridge, &bridge_live) ||
      !store.ListRegistrations(&registrations) ||
      !store.WaitingByType(&waiting) || !store.Counts(&counts)) {
    return Fail(kName, "cannot read " + mms::pushrouter::PushStorePath());
  }
  if (live) {
    std::printf("router: running, pid %u, %s:%d\n", row.pid,
                row.address.c_str(), row.port);
  } else {
    std::printf("router: not running\n");
  }
  if (bridge_live) {
    std::printf("bridge: running, pid %u\n", bridge.pid);
  } else {
    std::printf("bridge: not running\n");
  }
  for (const auto& r : registrations) {
    std::printf("registered: %s app '%s' -> %s %s\n", r.content_type.c_str(),
                r.app_id.c_str(), r.program.c_str(), r.params.c_str());
  }
  for (const auto& [type, count] : waiting) {
    std::printf("waiting: %s %lld\n", type.c_str(),
                static_cast<long long>(count));
  }
  for (const auto& [name, count] : counts) {
    std::printf("count: %s %lld\n", name.c_str(),
                static_cast<long long>(count));
  }
  return kOk;
}

int Run(const Args& args) {
  if (args.size() == 1 && args[0] == "--status") {
    return Status();
  }
  mms::pushrouter::RouterOptions options;
  std::string error;
  if (!mms::pushrouter::RouterOptionsFromArgs(args, &options, &error)) {
    return Fail(kName, error, kUsage);
  }
  return mms::pushrouter::RunPushRouterUntilSignal(options) == 0 ? kOk
                                                                 : kFailed;
}

const Registration kRegistration({
    kName,
    "run the push router stand-in, or show its state",
    "usage: mmsctl pushrouter [--address HOST[:PORT]] [--port N] [--verbose]\n"
    "       mmsctl pushrouter --status\n\n"
    "Runs the push router in the foreground until SIGTERM or Ctrl-C. It\n"
    "receives WAP pushes (connectionless WSP Push PDUs in UDP datagrams) on\n"
    "127.0.0.1:2948, or MMS_PUSH_ADDR, or the address given (loopback\n"
    "only; port 0 picks a free one), queues them in <device root>/\n"
    "pushrouter.db and starts the registered program when no listener\n"
    "holds the content type.\n\n"
    "--status prints whether a router runs and where, whether the modem\n"
    "bridge (mms-modem) runs, the registrations, the pushes waiting per\n"
    "content type and the counters: the router's (received, accepted,\n"
    "refused, duplicate, malformed.*, launched, ...) and the bridge's by\n"
    "outcome (modem.stored, modem.duplicate, modem.refused, modem.later,\n"
    "modem.left-alone, modem.delete-failed).\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
