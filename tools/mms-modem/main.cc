// mms-modem: the bridge from ModemManager's received SMS to the push
// router, as a process of its own.
//
//   mms-modem [--verbose] [--retry SECONDS]
#include "modem/bridge.h"
#include "tools/daemon_main.h"

int main(int argc, char** argv) {
  return mms::tools::DaemonMain<mms::modem::BridgeOptions>(
      argc, argv, "mms-modem",
      "usage: mms-modem [--verbose] [--retry SECONDS]\n"
      "Hands the MMS pushes that ModemManager receives as SMS to the\n"
      "push router of the device root of MMS_DEVICE_ROOT, and deletes\n"
      "each SMS once the router has stored it (or counted it as a\n"
      "duplicate, or refused it as malformed). Other SMS stay on the\n"
      "modem. Uses the system bus, or DBUS_SYSTEM_BUS_ADDRESS; waits for\n"
      "ModemManager when it is absent. An MMS push the router cannot\n"
      "take yet (no router, no listener registered) is tried again\n"
      "after SECONDS (30). --verbose logs every SMS. Runs until SIGTERM\n"
      "or SIGINT.",
      mms::modem::BridgeOptionsFromArgs, mms::modem::RunBridge);
}
