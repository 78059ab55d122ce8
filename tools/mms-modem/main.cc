// mms-modem: the bridge from ModemManager's received SMS to the push
// router, as a process of its own.
//
//   mms-modem [--verbose] [--retry SECONDS]
#include <cstdio>
#include <string>
#include <vector>

#include "modem/bridge.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::puts(
          "usage: mms-modem [--verbose] [--retry SECONDS]\n"
          "Hands the MMS pushes that ModemManager receives as SMS to the\n"
          "push router of the device root of MMS_DEVICE_ROOT, and deletes\n"
          "each SMS once the router has stored it (or counted it as a\n"
          "duplicate, or refused it as malformed). Other SMS stay on the\n"
          "modem. Uses the system bus, or DBUS_SYSTEM_BUS_ADDRESS; waits for\n"
          "ModemManager when it is absent. An MMS push the router cannot\n"
          "take yet (no router, no listener registered) is tried again\n"
          "after SECONDS (30). --verbose logs every SMS. Runs until SIGTERM\n"
          "or SIGINT.");
      return 0;
    }
  }
  mms::modem::BridgeOptions options;
  std::string error;
  if (!mms::modem::BridgeOptionsFromArgs(args, &options, &error)) {
    std::fprintf(stderr, "mms-modem: %s\n", error.c_str());
    return 2;
  }
  return mms::modem::RunBridge(options);
}
