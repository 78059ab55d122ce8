// send_request.cc: the m-send-req header block and CMMS::MMS_MakeSendData.
//
// The transaction ID and the Date carry the same seconds value, read once.
// The From is always the Insert-address token: the MMS centre fills in the
// sender. The body's SMIL entry is the Start named in the Content-Type.
#include "codec/send_request.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codec/header_table.h"
#include "codec/send_body.h"
#include "codec/uintvar.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr size_t kCountryPrefixBytes = 3;  // "+86", left out of the ID
constexpr char kPlmnSuffix[] = "/TYPE=PLMN";

// Length of a fixed field's text, never past the field.
size_t FieldLength(const char* field) { return strnlen(field, MAX_PATH); }

// Seconds since 1970 now; 0 when the clock cannot be converted or lies
// outside what a 32-bit Date-value holds.
uint32_t NowSeconds() {
  SYSTEMTIME now = {};
  GetSystemTime(&now);
  const int64_t seconds = SystemTimeToSeconds(&now);
  if (seconds < 0 || seconds > static_cast<int64_t>(UINT32_MAX)) {
    return 0;
  }
  return static_cast<uint32_t>(seconds);
}

// The seconds in decimal, then the recipient from its fourth byte on. Built
// without a fixed buffer, so a long recipient is never cut.
bool PutTransactionId(uint32_t seconds, const char* recipient,
                      ByteWriter* out) {
  char digits[16];
  const int n = std::snprintf(digits, sizeof(digits), "%u",
                              static_cast<unsigned>(seconds));
  ByteWriter text(kMaxSendHeaderBytes);
  const size_t length = FieldLength(recipient);
  if (length > kCountryPrefixBytes &&
      !text.PutBytes(recipient + kCountryPrefixBytes,
                     length - kCountryPrefixBytes)) {
    return false;
  }
  ByteWriter id(kMaxSendHeaderBytes);
  return id.PutBytes(digits, static_cast<size_t>(n)) && id.PutWriter(text) &&
         out->PutShortInteger(kTransactionId) &&
         out->PutTextString(reinterpret_cast<const char*>(id.data()),
                            id.size());
}

bool PutTo(const char* recipient, ByteWriter* out) {
  const size_t length = FieldLength(recipient);
  if (length == 0) {
    return true;
  }
  ByteWriter address(kMaxSendHeaderBytes);
  return address.PutBytes(recipient, length) &&
         address.PutBytes(kPlmnSuffix, std::strlen(kPlmnSuffix)) &&
         out->PutShortInteger(kTo) &&
         out->PutTextString(reinterpret_cast<const char*>(address.data()),
                            address.size());
}

// One Cc field per declared entry. Each UTF-16 unit of the entry goes out
// as its low byte; an entry the record refuses goes out empty.
bool PutCcs(MMS_Custom_Data* message, ByteWriter* out) {
  for (int index = 0; index < message->m_nCcNumber; ++index) {
    wchar_t wide[MAX_PATH] = {};
    message->GetCcNameWithPLNM(wide, index);
    char narrow[MAX_PATH] = {};
    size_t n = 0;
    while (n + 1 < MAX_PATH && wide[n] != 0) {
      narrow[n] = static_cast<char>(wide[n] & 0xFF);
      ++n;
    }
    if (!out->PutShortInteger(kCc) || !out->PutTextString(narrow, n)) {
      return false;
    }
  }
  return true;
}

bool PutSubject(const char* subject, ByteWriter* out) {
  const size_t length = FieldLength(subject);
  if (length == 0) {
    return true;
  }
  return out->PutShortInteger(kSubject) &&
         out->PutEncodedString(kCharsetUtf8, subject, length);
}

// Value-length, Relative token, Long-integer of the seconds.
bool PutRelativeTime(uint8_t code, uint32_t seconds, ByteWriter* out) {
  ByteWriter value(kMaxSendHeaderBytes);
  return value.PutByte(kRelativeToken) && value.PutLongInteger(seconds) &&
         out->PutShortInteger(code) && out->PutValueLengthAnd(value);
}

uint8_t MessageClassValue(int option) {
  switch (option) {
    case 1:
      return kClassAdvertisement;
    case 2:
      return kClassInformational;
    case 3:
      return kClassAuto;
    default:
      return kClassPersonal;
  }
}

uint32_t DeliveryTimeSeconds(int option) {
  switch (option) {
    case 1:
      return 3600;
    case 2:
      return 86400;
    default:
      return 0;
  }
}

uint8_t PriorityValue(int option) {
  switch (option) {
    case 1:
      return kPriorityLow;
    case 2:
      return kPriorityHigh;
    default:
      return kPriorityNormal;
  }
}

bool PutFlag(uint8_t code, int option, uint8_t value, ByteWriter* out) {
  return option == 0 || (out->PutShortInteger(code) && out->PutByte(value));
}

bool PutOptions(const MMS_Option& option, ByteWriter* out) {
  if (option.nMessageClass != 0 &&
      !(out->PutShortInteger(kMessageClass) &&
        out->PutByte(MessageClassValue(option.nMessageClass)))) {
    return false;
  }
  // Hours wrap in 32 bits, as the phone's arithmetic does.
  if (option.nExpiry != 0 &&
      !PutRelativeTime(kExpiry, static_cast<uint32_t>(option.nExpiry) * 3600u,
                       out)) {
    return false;
  }
  if (option.nDeliveryTime != 0 &&
      !PutRelativeTime(kDeliveryTime, DeliveryTimeSeconds(option.nDeliveryTime),
                       out)) {
    return false;
  }
  if (option.nPriority != 0 &&
      !(out->PutShortInteger(kPriority) &&
        out->PutByte(PriorityValue(option.nPriority)))) {
    return false;
  }
  return PutFlag(kSenderVisibility, option.bHideSender, kHide, out) &&
         PutFlag(kDeliveryReport, option.bDeliveryReport, kYes, out) &&
         PutFlag(kReadReport, option.bReadReport, kYes, out);
}

// multipart/related, Type application/smil, Start the SMIL entry.
bool PutContentType(ByteWriter* out) {
  ByteWriter value(kMaxSendHeaderBytes);
  return value.PutShortInteger(kTypeMultipartRelated) &&
         value.PutShortInteger(kParamType) && value.PutTextString(kTextSmil) &&
         value.PutShortInteger(kParamStart) &&
         value.PutTextString(kSmilContentId) &&
         out->PutShortInteger(kContentType) && out->PutValueLengthAnd(value);
}

}  // namespace

bool PutSendHeader(MMS_Custom_Data* message, ByteWriter* out) {
  if (message == nullptr || message->m_pOption == nullptr) {
    return false;
  }
  const uint32_t seconds = NowSeconds();
  return out->PutShortInteger(kMessageType) && out->PutByte(kMsgSendReq) &&
         PutTransactionId(seconds, message->m_szPhoneNumber, out) &&
         out->PutShortInteger(kMmsVersion) && out->PutByte(kMmsVersion10) &&
         out->PutShortInteger(kDate) && out->PutLongInteger(seconds) &&
         out->PutShortInteger(kFrom) && out->PutValueLength(1) &&
         out->PutByte(kInsertAddressToken) &&
         PutTo(message->m_szPhoneNumber, out) && PutCcs(message, out) &&
         PutSubject(message->m_szSubject, out) &&
         PutOptions(*message->m_pOption, out) && PutContentType(out);
}

unsigned char* MakeSendHeader(MMS_Header* header, MMS_Custom_Data* message) {
  if (header == nullptr) {
    return nullptr;
  }
  ByteWriter out(kMaxSendHeaderBytes);
  if (!PutSendHeader(message, &out)) {
    return nullptr;
  }
  size_t size = 0;
  unsigned char* block = out.TakeBlock(&size);
  if (block != nullptr) {
    header->nHeaderLength = static_cast<int32_t>(size);
  }
  return block;
}

}  // namespace mms::codec

// The PDU is laid out once at its final size: header block, entry count
// (uintvar: one byte up to 127 entries), then every entry.
unsigned char* CMMS::MMS_MakeSendData(MMS_Custom_Data* message, int* length) {
  using mms::codec::ByteWriter;
  if (message == nullptr || length == nullptr) {
    return nullptr;
  }
  ByteWriter header(mms::codec::kMaxSendHeaderBytes);
  if (!mms::codec::PutSendHeader(message, &header)) {
    return nullptr;
  }
  mms::codec::SendParts parts;
  size_t body_size = 0;
  if (!parts.Load(message) || !parts.EncodedSize(&body_size)) {
    return nullptr;
  }
  const auto entries = static_cast<uint32_t>(parts.count());
  const size_t head_size = header.size() + mms::codec::UintvarSize(entries);
  if (body_size > mms::codec::kMaxPduBytes - head_size) {
    return nullptr;
  }
  ByteWriter pdu(mms::codec::kMaxPduBytes);
  if (!pdu.Reserve(head_size + body_size) || !pdu.PutWriter(header) ||
      !pdu.PutUintvar(entries) || !parts.PutAll(&pdu)) {
    return nullptr;
  }
  size_t size = 0;
  unsigned char* block = pdu.TakeBlock(&size);
  if (block != nullptr) {
    *length = static_cast<int>(size);
  }
  return block;
}
