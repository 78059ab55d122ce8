// mms-pushrouter: the push router stand-in as a process of its own.
//
//   mms-pushrouter [--address HOST[:PORT]] [--port N] [--verbose]
//
// Listens for WAP pushes on 127.0.0.1:2948 (or MMS_PUSH_ADDR) for the
// device root of MMS_DEVICE_ROOT, until SIGTERM or SIGINT.
#include "pushrouter/push_router_service.h"
#include "tools/daemon_main.h"

int main(int argc, char** argv) {
  return mms::tools::DaemonMain<mms::pushrouter::RouterOptions>(
      argc, argv, "mms-pushrouter",
      "usage: mms-pushrouter [--address HOST[:PORT]] [--port N] "
      "[--verbose]\n"
      "Receives WAP pushes (connectionless WSP Push PDUs over UDP) on a\n"
      "loopback address, 127.0.0.1:2948 unless MMS_PUSH_ADDR or the\n"
      "options say otherwise (port 0 picks a free one), for the device\n"
      "root of MMS_DEVICE_ROOT. Runs until SIGTERM or SIGINT.",
      mms::pushrouter::RouterOptionsFromArgs,
      mms::pushrouter::RunPushRouterUntilSignal);
}
