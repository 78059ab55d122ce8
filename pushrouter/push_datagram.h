// push_datagram.h: the connectionless WSP Push PDU as gateways send it over
// UDP, read and written for the push router stand-in.
//
// Layout of one datagram (every length bounded by the datagram itself):
//   TID          1 byte
//   PDU type     1 byte, 0x06 Push
//   HeadersLen   uintvar: bytes of content type plus headers
//   ContentType  text ("application/...", 0) or well-known Short-integer
//                (0xBE = 0x3E|0x80 for "application/vnd.wap.mms-message"),
//                or Value-length + media type + parameters
//   Headers      the rest of HeadersLen
//   Data         the rest of the datagram: the push body
#ifndef MMS_PUSHROUTER_PUSH_DATAGRAM_H_
#define MMS_PUSHROUTER_PUSH_DATAGRAM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mms::pushrouter {

constexpr uint8_t kWspPduPush = 0x06;
constexpr uint8_t kWellKnownMmsMessage = 0x3E;
constexpr char kMmsMessageType[] = "application/vnd.wap.mms-message";
// Larger datagrams are refused unread: a notification or delivery report
// is a few hundred bytes.
constexpr size_t kMaxPushDatagram = 16384;

enum class DatagramError {
  kNone,
  kTruncated,       // ends inside the fixed fields or the length
  kNotPush,         // PDU type other than Push
  kHeadersPastEnd,  // HeadersLen reaches past the datagram
  kBadContentType,  // missing, unterminated or overlong content type
  kOversized,       // more than kMaxPushDatagram bytes
};

// Short name for counters and logs ("truncated", "not-push", ...).
const char* DatagramErrorName(DatagramError error);

// One parsed push; headers and body borrow the datagram's bytes.
struct PushDatagram {
  uint8_t transaction_id = 0;
  // Media type in text form. A well-known code without a known name gives
  // an empty text and well_known_code >= 0.
  std::string content_type;
  int well_known_code = -1;  // 7-bit code, -1 when sent as text
  const uint8_t* headers = nullptr;
  size_t headers_size = 0;  // bytes after the content type
  const uint8_t* body = nullptr;
  size_t body_size = 0;
};

[[nodiscard]] DatagramError ParsePushDatagram(const uint8_t* data, size_t size,
                                              PushDatagram* push);

// A connectionless Push PDU around body. A content type with a well-known
// code goes out as that code, any other as text. False when it would pass
// kMaxPushDatagram.
[[nodiscard]] bool BuildPushDatagram(uint8_t transaction_id,
                                     const std::string& content_type,
                                     const std::vector<uint8_t>& headers,
                                     const std::vector<uint8_t>& body,
                                     std::vector<uint8_t>* datagram);

// What a push file holds. A Push PDU has 0x06 as its second byte; an MMS
// PDU starts with X-Mms-Message-Type (0x8C), whose value (0x80 and up) is
// its second byte, so the two never look alike.
enum class PushFileKind { kPushPdu, kMmsPdu, kUnknown };
PushFileKind ClassifyPushFile(const std::vector<uint8_t>& bytes);

// Lower-case ASCII form under which content types are matched.
std::string FoldContentType(const std::string& content_type);

}  // namespace mms::pushrouter

#endif  // MMS_PUSHROUTER_PUSH_DATAGRAM_H_
