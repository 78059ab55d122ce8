// centre.h: what the loopback MMS centre does with each request, apart
// from HTTP: accepting send requests, announcing and serving messages,
// taking acknowledgements and reporting deliveries.
//
// Every accepted message gets one retrieval per recipient (To, Cc, Bcc),
// announced at a location made from the location template (path and
// query, as real centres announce them) and served at exactly that path
// until it expires. Its id is the transaction ID of the notification and
// of the retrieved message (unless the centre is told to leave it out);
// the device's acknowledgement or notification response names it, and the
// delivery report follows from it. A recipient that is no phone number or
// e-mail address is refused with an X-Mms-Response-Status.
#ifndef MMS_TOOLS_MMS_CENTRE_CENTRE_H_
#define MMS_TOOLS_MMS_CENTRE_CENTRE_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "tools/mms-centre/pdus.h"
#include "tools/mms-centre/push_sender.h"

namespace centre {

// The library fetches locations of at most this many characters.
constexpr size_t kMaxLocationBytes = 259;
constexpr size_t kMaxIdChars = 29;
constexpr char kIdMark[] = "{id}";

struct Settings {
  std::string location_host;  // "127.0.0.1:8899", as URLs carry it
  std::string location_template = "/{id}";  // path and query; one "{id}"
  std::string sender_number;  // From when a request leaves it to us
  std::string store;          // folder for copies; empty for none
  uint32_t expiry_seconds = 7 * 24 * 3600;
  bool omit_transaction_id = false;  // in the m-retrieve-conf
  bool chunked = false;              // retrievals answered chunked
};

struct Reply {
  int status = 200;
  Bytes body;
  std::string content_type;
  bool chunked = false;  // no Content-Length
};

class Centre {
 public:
  Centre(const Settings& settings, PushSender* push);

  // A PDU posted to the centre: a send request, an acknowledgement, a
  // notification response; anything else is refused with 400.
  Reply Post(const Bytes& pdu);
  // GET of a request path and query: the retrieval announced there (or,
  // for "//<id>", the one with that id), 404 when unknown or expired.
  Reply Get(const std::string& path);

 private:
  struct Retrieval {
    std::string message_id;
    Recipient recipient;
    Bytes pdu;             // the m-retrieve-conf
    uint32_t expires = 0;  // seconds since 1970
    bool acknowledged = false;
  };

  Reply Accept(const Bytes& pdu);
  // An m-acknowledge-ind, or an m-notifyresp-ind (how says which).
  Reply Acknowledge(const Bytes& pdu, const std::string& how);
  // The path and query announcing id, and back; "" when path names none.
  std::string PathFor(const std::string& id) const;
  std::string IdAt(const std::string& path) const;
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
