// bridge.h: mms-modem, the bridge from ModemManager's SMS to the push
// router.
//
// It follows the modems ModemManager announces, takes each received SMS
// once it is complete, hands an MMS push to the router of the device root
// and deletes the SMS once the router has answered stored, duplicate or
// refused. Anything else is left on the modem. The SMS stays until that
// answer, so a bridge killed at any point loses nothing: the next one
// finds the SMS in the modem's list and hands it over again, and the
// router tells a push it already stored from a new one.
#ifndef MMS_MODEM_BRIDGE_H_
#define MMS_MODEM_BRIDGE_H_

#include <string>
#include <vector>

namespace mms::modem {

struct BridgeOptions {
  bool verbose = false;    // one stderr line per SMS
  int retry_seconds = 30;  // before an SMS the router could not take yet
};

// "--verbose" and "--retry SECONDS"; false with a one-line reason.
[[nodiscard]] bool BridgeOptionsFromArgs(const std::vector<std::string>& args,
                                         BridgeOptions* options,
                                         std::string* error);

// Runs until SIGTERM or SIGINT; 0 then, 1 when it cannot start (no system
// bus, or another bridge runs for the device root).
int RunBridge(const BridgeOptions& options);

}  // namespace mms::modem

#endif  // MMS_MODEM_BRIDGE_H_
