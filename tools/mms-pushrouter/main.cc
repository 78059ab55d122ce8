// mms-pushrouter: the push router stand-in as a process of its own.
//
//   mms-pushrouter [--address HOST[:PORT]] [--port N] [--verbose]
//
// Listens for WAP pushes on 127.0.0.1:2948 (or MMS_PUSH_ADDR) for the
// device root of MMS_DEVICE_ROOT, until SIGTERM or SIGINT.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pushrouter/push_router_service.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::puts(
          "usage: mms-pushrouter [--address HOST[:PORT]] [--port N] "
          "[--verbose]\n"
          "Receives WAP pushes (connectionless WSP Push PDUs over UDP) on a\n"
          "loopback address, 127.0.0.1:2948 unless MMS_PUSH_ADDR or the\n"
          "options say otherwise (port 0 picks a free one), for the device\n"
          "root of MMS_DEVICE_ROOT. Runs until SIGTERM or SIGINT.");
      return 0;
    }
  }
  mms::platform::RouterOptions options;
  std::string error;
  if (!mms::platform::RouterOptionsFromArgs(args, &options, &error)) {
    std::fprintf(stderr, "mms-pushrouter: %s\n", error.c_str());
    return 2;
  }
  return mms::platform::RunPushRouterUntilSignal(options);
}
