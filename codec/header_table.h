// header_table.h: the codes and names of the MMS header fields, and the
// well-known WSP/MMS values the codec writes and reads.
//
// One table (header_table.cc) maps every field code 0x01..0x3F of the MMS
// encapsulation to its name and the form of its value; encoders take codes
// from the constants below, the decoders and the dump tool take names from
// the table. Field, content-type and parameter codes are the 7-bit numbers
// of the standards (the wire byte is code | 0x80, see ByteWriter); the
// enumerated header values are given as the bytes that go on the wire.
#ifndef MMS_CODEC_HEADER_TABLE_H_
#define MMS_CODEC_HEADER_TABLE_H_

#include <cstddef>
#include <cstdint>

namespace mms::codec {

// How a header's value is laid out.
enum class ValueKind : uint8_t {
  kOctet,           // one well-known value byte (Short-integer / Octet)
  kText,            // Text-string (also Uri-value, message and applic IDs)
  kEncodedString,   // Encoded-string-value (addresses, subject, texts)
  kLongInteger,     // Long-integer (Date-value, sizes)
  kInteger,         // Integer-value: Short-integer or Long-integer
  kTime,            // Value-length, Absolute/Relative token, date or delta
  kFrom,            // Value-length, Address-present token + address, or
                    // Insert-address token alone
  kClass,           // Short-integer class or Token-text
  kContentType,     // Content-type-value; the last header of a PDU
  kLengthPrefixed,  // other Value-length forms, stepped over as a whole
  kBody,            // Content: the multipart body itself
};

struct HeaderRow {
  uint8_t code;      // 0x01..0x3F
  const char* name;  // as the MMS encapsulation names it
  ValueKind kind;
};

// MMS header field codes.
constexpr uint8_t kBcc = 0x01;
constexpr uint8_t kCc = 0x02;
constexpr uint8_t kContentLocation = 0x03;
constexpr uint8_t kContentType = 0x04;
constexpr uint8_t kDate = 0x05;
constexpr uint8_t kDeliveryReport = 0x06;
constexpr uint8_t kDeliveryTime = 0x07;
constexpr uint8_t kExpiry = 0x08;
constexpr uint8_t kFrom = 0x09;
constexpr uint8_t kMessageClass = 0x0A;
constexpr uint8_t kMessageId = 0x0B;
constexpr uint8_t kMessageType = 0x0C;
constexpr uint8_t kMmsVersion = 0x0D;
constexpr uint8_t kMessageSize = 0x0E;
constexpr uint8_t kPriority = 0x0F;
constexpr uint8_t kReadReport = 0x10;
constexpr uint8_t kReportAllowed = 0x11;
constexpr uint8_t kResponseStatus = 0x12;
constexpr uint8_t kResponseText = 0x13;
constexpr uint8_t kSenderVisibility = 0x14;
constexpr uint8_t kStatus = 0x15;
constexpr uint8_t kSubject = 0x16;
constexpr uint8_t kTo = 0x17;
constexpr uint8_t kTransactionId = 0x18;
constexpr uint8_t kRetrieveStatus = 0x19;
constexpr uint8_t kRetrieveText = 0x1A;
constexpr uint8_t kReadStatus = 0x1B;
constexpr uint8_t kReplyCharging = 0x1C;
constexpr uint8_t kReplyChargingDeadline = 0x1D;
constexpr uint8_t kReplyChargingId = 0x1E;
constexpr uint8_t kReplyChargingSize = 0x1F;
constexpr uint8_t kPreviouslySentBy = 0x20;
constexpr uint8_t kPreviouslySentDate = 0x21;
constexpr uint8_t kStore = 0x22;
constexpr uint8_t kMmState = 0x23;
constexpr uint8_t kMmFlags = 0x24;
constexpr uint8_t kStoreStatus = 0x25;
constexpr uint8_t kStoreStatusText = 0x26;
constexpr uint8_t kStored = 0x27;
constexpr uint8_t kAttributes = 0x28;
constexpr uint8_t kTotals = 0x29;
constexpr uint8_t kMboxTotals = 0x2A;
constexpr uint8_t kQuotas = 0x2B;
constexpr uint8_t kMboxQuotas = 0x2C;
constexpr uint8_t kMessageCount = 0x2D;
constexpr uint8_t kContent = 0x2E;
constexpr uint8_t kStart = 0x2F;
constexpr uint8_t kAdditionalHeaders = 0x30;
constexpr uint8_t kDistributionIndicator = 0x31;
constexpr uint8_t kElementDescriptor = 0x32;
constexpr uint8_t kLimit = 0x33;
constexpr uint8_t kRecommendedRetrievalMode = 0x34;
constexpr uint8_t kRecommendedRetrievalModeText = 0x35;
constexpr uint8_t kStatusText = 0x36;
constexpr uint8_t kApplicId = 0x37;
constexpr uint8_t kReplyApplicId = 0x38;
constexpr uint8_t kAuxApplicInfo = 0x39;
constexpr uint8_t kContentClass = 0x3A;
constexpr uint8_t kDrmContent = 0x3B;
constexpr uint8_t kAdaptationAllowed = 0x3C;
constexpr uint8_t kReplaceId = 0x3D;
constexpr uint8_t kCancelId = 0x3E;
constexpr uint8_t kCancelStatus = 0x3F;

// Row for a field code (7-bit, or the wire byte with bit 7 set); null for
// a code no MMS version assigns.
const HeaderRow* FindHeader(uint8_t code);
// Name for a field code, or null.
const char* HeaderName(uint8_t code);

// X-Mms-Message-Type values (wire bytes).
constexpr uint8_t kMsgSendReq = 128;
constexpr uint8_t kMsgSendConf = 129;
constexpr uint8_t kMsgNotificationInd = 130;
constexpr uint8_t kMsgNotifyRespInd = 131;
constexpr uint8_t kMsgRetrieveConf = 132;
constexpr uint8_t kMsgAcknowledgeInd = 133;
constexpr uint8_t kMsgDeliveryInd = 134;
constexpr uint8_t kMsgReadRecInd = 135;
constexpr uint8_t kMsgReadOrigInd = 136;

// X-Mms-MMS-Version 1.0 (major 1 in the high nibble, minor 0).
constexpr uint8_t kMmsVersion10 = 0x90;

// Yes/No (Delivery-Report, Read-Report, Report-Allowed).
constexpr uint8_t kYes = 128;
constexpr uint8_t kNo = 129;
// From.
constexpr uint8_t kAddressPresentToken = 128;
constexpr uint8_t kInsertAddressToken = 129;
// Expiry, Delivery-Time.
constexpr uint8_t kAbsoluteToken = 128;
constexpr uint8_t kRelativeToken = 129;
// Sender-Visibility.
constexpr uint8_t kHide = 128;
constexpr uint8_t kShow = 129;
// Priority.
constexpr uint8_t kPriorityLow = 128;
constexpr uint8_t kPriorityNormal = 129;
constexpr uint8_t kPriorityHigh = 130;
// Message-Class.
constexpr uint8_t kClassPersonal = 128;
constexpr uint8_t kClassAdvertisement = 129;
constexpr uint8_t kClassInformational = 130;
constexpr uint8_t kClassAuto = 131;

// Well-known content types (7-bit codes).
constexpr uint8_t kTypeTextPlain = 0x03;
constexpr uint8_t kTypeMultipartMixed = 0x23;
constexpr uint8_t kTypeImageAny = 0x1C;
constexpr uint8_t kTypeImageGif = 0x1D;
constexpr uint8_t kTypeImageJpeg = 0x1E;
constexpr uint8_t kTypeImagePng = 0x20;
constexpr uint8_t kTypeMultipartRelated = 0x33;
// Content types sent as text.
constexpr char kTextSmil[] = "application/smil";
constexpr char kTextAudioMidi[] = "audio/midi";
constexpr char kTextOctetStream[] = "application/octet-stream";

// Well-known parameters (7-bit codes); both the old and the newer
// assignments of a name count.
constexpr uint8_t kParamQ = 0x00;
constexpr uint8_t kParamCharset = 0x01;
constexpr uint8_t kParamTypeInteger = 0x03;
constexpr uint8_t kParamName = 0x05;
constexpr uint8_t kParamFilename = 0x06;
constexpr uint8_t kParamType = 0x09;   // multipart/related Type
constexpr uint8_t kParamStart = 0x0A;  // multipart/related Start
constexpr uint8_t kParamName14 = 0x17;
constexpr uint8_t kParamFilename14 = 0x18;
constexpr uint8_t kParamStart14 = 0x19;

// Character set UTF-8 (IANA MIBenum).
constexpr uint8_t kCharsetUtf8 = 106;

// WSP header codes used inside multipart entries (7-bit codes).
constexpr uint8_t kWspContentLocation = 0x0E;
constexpr uint8_t kWspContentDisposition = 0x2E;
constexpr uint8_t kWspContentId = 0x40;
constexpr uint8_t kWspContentDisposition14 = 0x45;

// First bytes of the WSP value forms (see wsp_reader.h).
constexpr uint8_t kMaxShortLength = 30;  // Short-length 0..30
constexpr uint8_t kLengthQuote = 31;     // a uintvar length follows
constexpr uint8_t kFirstTextByte = 32;   // texts start at 32..127
constexpr uint8_t kStringQuote = 34;     // starts a Quoted-string
constexpr uint8_t kTextQuote = 127;      // before a text starting >= 128
constexpr uint8_t kAnyCharset = 128;     // Char-set: any

// Code of a value that is not well-known (given as text).
constexpr uint32_t kNoCode = 0xFFFFFFFF;

// WSP well-known content type (7-bit code, or a Long-integer value); null
// for a code no table row names.
const char* ContentTypeName(uint32_t code);
// Code of a content type name (any case), or kNoCode.
uint32_t ContentTypeCode(const char* text, size_t size);

// An ASCII letter in lower case; every other byte as it is. Names of the
// tables compare without regard to case through it.
constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// WSP well-known parameter (7-bit code), or null.
const char* ParameterName(uint8_t code);

// WSP header field of a multipart entry or a push (7-bit code), or null.
const char* WspHeaderName(uint8_t code);

// A character set by IANA MIBenum: its name and the iconv converter.
struct CharsetRow {
  uint32_t mib;
  const char* name;   // IANA name, lower case
  const char* iconv;  // converter name
};
const CharsetRow* FindCharset(uint32_t mib);
const CharsetRow* FindCharsetByName(const char* name, size_t size);
const char* CharsetName(uint32_t mib);

}  // namespace mms::codec

#endif  // MMS_CODEC_HEADER_TABLE_H_
