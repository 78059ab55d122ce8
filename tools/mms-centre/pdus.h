// pdus.h: the MMS PDUs the loopback centre reads and writes.
//
// A send request is split with the codec's strict field walk; every PDU
// the centre answers with is laid out by the codec's ByteWriter with codes
// from the one header table. Recipient and subject fields are carried over
// as the sender wrote them, byte for byte.
#ifndef MMS_TOOLS_MMS_CENTRE_PDUS_H_
#define MMS_TOOLS_MMS_CENTRE_PDUS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace centre {

using Bytes = std::string;  // PDU bytes

struct Recipient {
  std::string address;  // decoded text, type suffix kept
  Bytes field;          // the whole To/Cc/Bcc field as sent, code included
  Bytes value;          // its value bytes alone
};

struct SendRequest {
  std::string transaction_id;
  std::string from;                   // empty for the Insert-address token
  std::vector<Recipient> recipients;  // To, Cc, Bcc in PDU order
  Bytes address_fields;               // To and Cc fields as sent, in order
  Bytes subject_field;                // empty when there is none
  Bytes content_type_field;           // code included
  size_t body_offset = 0;             // entry count onwards
};

// Splits an m-send-req. False with *why set when the PDU is not one or
// cannot be read whole.
bool ParseSendRequest(const Bytes& pdu, SendRequest* request, std::string* why);

// The X-Mms-Message-Type byte of a PDU, or 0 when it does not start with
// that field.
uint8_t MessageType(const Bytes& pdu);
// The X-Mms-Transaction-Id of a PDU; empty when absent or unreadable.
std::string TransactionId(const Bytes& pdu);

// X-Mms-Response-Status values.
constexpr uint8_t kResponseOk = 128;
constexpr uint8_t kResponseFormatCorrupt = 131;
constexpr uint8_t kResponseAddressUnresolved = 132;
// The X-Mms-Status of an m-notifyresp-ind; 0 when absent or unreadable.
uint8_t NotifyStatus(const Bytes& pdu);

// m-send-conf; the Message-ID only when the status is Ok, the
// X-Mms-Response-Text only when text is not empty.
Bytes MakeSendConf(const std::string& transaction_id, uint8_t status,
                   const std::string& message_id, const std::string& text);

struct RetrieveInfo {
  std::string transaction_id;  // empty: the field is left out
  std::string message_id;
  uint32_t date = 0;   // seconds since 1970 UTC
  std::string sender;  // address text, type suffix kept
};

// m-retrieve-conf: the request's recipients, subject, content type and
// body, behind the centre's own identification fields.
Bytes MakeRetrieveConf(const SendRequest& request, const Bytes& send_req,
                       const RetrieveInfo& info);

struct NotificationInfo {
  std::string transaction_id;
  std::string sender;
  Bytes subject_field;  // empty for none
  uint32_t size = 0;    // of the message, bytes
  uint32_t expiry = 0;  // seconds from now
  std::string location;
};

Bytes MakeNotification(const NotificationInfo& info);

// m-delivery-ind for one recipient (its To/Cc/Bcc value bytes).
Bytes MakeDeliveryInd(const std::string& message_id, const Bytes& to_value,
                      uint32_t date, uint8_t status);

// A connectionless WSP Push PDU carrying an MMS PDU.
Bytes WrapInWapPush(uint8_t tid, const Bytes& pdu);

}  // namespace centre

#endif  // MMS_TOOLS_MMS_CENTRE_PDUS_H_
