// sms_push.h: what the bridge needs of one SMS, and whether it carries an
// MMS push.
//
// An MMS notification arrives as a binary SMS whose data is a
// connectionless WSP Push PDU (TID, PDU type 0x06, HeadersLen, content
// type, headers, body) for "application/vnd.wap.mms-message". The data is
// read with the push router's own reader, so the bridge and the router
// agree on what a push is.
#ifndef MMS_MODEM_SMS_PUSH_H_
#define MMS_MODEM_SMS_PUSH_H_

#include <cstdint>
#include <string>
#include <vector>

namespace mms::modem {

// ModemManager's SMS states and PDU types that the bridge tells apart.
constexpr uint32_t kSmsStateReceiving = 2;
constexpr uint32_t kSmsStateReceived = 3;
constexpr uint32_t kSmsPduDeliver = 1;

struct SmsInfo {
  uint32_t state = 0;
  uint32_t pdu_type = 0;
  std::string number;
  std::string timestamp;  // as the network's service centre stamped it
  std::vector<uint8_t> data;
};

enum class SmsKind {
  kMmsPush,    // hand it to the router
  kOtherPush,  // a WAP push of another content type: left alone
  kNotPush,    // text, or data that is no Push PDU: left alone
};

SmsKind ClassifySms(const SmsInfo& sms);

// The name the router remembers the push under: a hash of the sender, the
// service centre's time stamp and the data, so a bridge that hands the same
// SMS over twice is told "duplicate", while an operator's repeated
// notification (a new time stamp) is a new push.
std::string HandoverKey(const SmsInfo& sms);

}  // namespace mms::modem

#endif  // MMS_MODEM_SMS_PUSH_H_
