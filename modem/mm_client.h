// mm_client.h: the calls the bridge makes to ModemManager on the system
// bus, through sd-bus.
//
// The bus is the system bus, or DBUS_SYSTEM_BUS_ADDRESS when set (sd-bus
// reads it), which is how tests reach a private bus. Every call is
// synchronous and reports a failure as one line of text.
#ifndef MMS_MODEM_MM_CLIENT_H_
#define MMS_MODEM_MM_CLIENT_H_

#include <systemd/sd-bus.h>

#include <string>
#include <vector>

#include "modem/sms_push.h"

namespace mms::modem {

constexpr char kMmService[] = "org.freedesktop.ModemManager1";
constexpr char kMmRoot[] = "/org/freedesktop/ModemManager1";
constexpr char kMessagingInterface[] =
    "org.freedesktop.ModemManager1.Modem.Messaging";
constexpr char kSmsInterface[] = "org.freedesktop.ModemManager1.Sms";

// Owns one bus connection.
class MmClient {
 public:
  MmClient() = default;
  ~MmClient();
  MmClient(const MmClient&) = delete;
  MmClient& operator=(const MmClient&) = delete;

  [[nodiscard]] bool Connect(std::string* error);
  sd_bus* bus() const { return bus_; }

  // Whether ModemManager holds its name on the bus now.
  [[nodiscard]] bool Present(bool* present, std::string* error);
  // Objects of the ObjectManager that offer Messaging.
  [[nodiscard]] bool MessagingModems(std::vector<std::string>* modems,
                                     std::string* error);
  [[nodiscard]] bool ListSms(const std::string& modem,
                             std::vector<std::string>* sms, std::string* error);
  [[nodiscard]] bool ReadSms(const std::string& sms, SmsInfo* info,
                             std::string* error);
  [[nodiscard]] bool DeleteSms(const std::string& modem, const std::string& sms,
                               std::string* error);

 private:
  sd_bus* bus_ = nullptr;
};

// Reads an "as" or the keys of an "a{sa{sv}}" (interface names) from m into
// names; false when m holds neither.
[[nodiscard]] bool ReadInterfaceNames(sd_bus_message* m,
                                      std::vector<std::string>* names);

}  // namespace mms::modem

#endif  // MMS_MODEM_MM_CLIENT_H_
