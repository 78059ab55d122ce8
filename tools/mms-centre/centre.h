// centre.h: what the loopback MMS centre does with each request, apart
// from HTTP: accepting send requests, announcing and serving messages,
// taking acknowledgements and reporting deliveries.
//
// Every accepted message gets one retrieval per recipient (To, Cc, Bcc),
// looked up by its id, which is the URL's last segment and the transaction
// ID of the notification and the retrieved message alike; the device's
// acknowledgement names it, and the delivery report follows from it.
#ifndef MMS_TOOLS_MMS_CENTRE_CENTRE_H_
#define MMS_TOOLS_MMS_CENTRE_CENTRE_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "tools/mms-centre/pdus.h"
#include "tools/mms-centre/push_sender.h"

namespace centre {

// The library reads at most these from a notification and a URL.
constexpr size_t kMaxLocationBytes = 63;
constexpr size_t kMaxHostPortChars = 31;
constexpr size_t kMaxIdChars = 29;

struct Settings {
  std::string location_host;  // "127.0.0.1:8899", as URLs carry it
  std::string sender_number;  // From when a request leaves it to us
  std::string store;          // folder for copies; empty for none
  uint32_t expiry_seconds = 7 * 24 * 3600;
};

struct Reply {
  int status = 200;
  Bytes body;
  std::string content_type;
};

class Centre {
 public:
  Centre(const Settings& settings, PushSender* push);

  // A PDU posted to the centre: a send request, an acknowledgement, a
  // notification response; anything else is refused with 400.
  Reply Post(const Bytes& pdu);
  // GET of a request path: the retrieval named by its last segment.
  Reply Get(const std::string& path);

 private:
  struct Retrieval {
    std::string message_id;
    Recipient recipient;
    Bytes pdu;  // the m-retrieve-conf
    bool acknowledged = false;
  };

  Reply Accept(const Bytes& pdu);
  Reply Acknowledge(const Bytes& pdu);
  std::string NextMessageId();  // needs mu_
  void Keep(const std::string& name, const Bytes& pdu);
  bool LoadKept(const std::string& id, Bytes* pdu);

  const Settings settings_;
  PushSender* const push_;     // not owned
  const uint32_t start_time_;  // names this run's messages
  std::mutex mu_;
  uint32_t sequence_ = 0;                        // guarded by mu_
  std::map<std::string, Retrieval> retrievals_;  // by id; guarded by mu_
  uint8_t push_tid_ = 0;                         // guarded by mu_
};

}  // namespace centre

#endif  // MMS_TOOLS_MMS_CENTRE_CENTRE_H_
