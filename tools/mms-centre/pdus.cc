// pdus.cc: reading send requests and laying out the centre's replies and
// pushes.
//
//   m-send-conf      type, Transaction-Id, version, Response-Status,
//                    Response-Text or Message-ID
//   m-retrieve-conf  type, [Transaction-Id], version, Message-ID, Date, From,
//                    To/Cc as sent, Subject as sent, Content-Type as sent,
//                    then the sender's body unchanged
//   m-notification   type, Transaction-Id, version, From, Subject, Class,
//                    Size, Expiry, Content-Location
//   m-delivery-ind   type, version, Message-ID, To, Date, Status
#include "tools/mms-centre/pdus.h"

#include "codec/byte_reader.h"
#include "codec/byte_writer.h"
#include "codec/header_fields.h"
#include "codec/header_table.h"

namespace centre {
namespace {

namespace codec = mms::codec;
using codec::ByteReader;
using codec::ByteWriter;
using codec::FieldStep;
using codec::HeaderField;

constexpr size_t kReplyCap = 4096;      // a PDU without a body
constexpr size_t kBodyHeadroom = 4096;  // centre fields ahead of a body
constexpr uint8_t kPushPduType = 0x06;  // WSP Push
constexpr uint8_t kMmsMessageContentType = 0x3E;  // vnd.wap.mms-message

const uint8_t* Data(const Bytes& bytes) {
  return reinterpret_cast<const uint8_t*>(bytes.data());
}

Bytes Take(const ByteWriter& w) {
  if (!w.ok() || w.size() == 0) {
    return Bytes();
  }
  return Bytes(reinterpret_cast<const char*>(w.data()), w.size());
}

std::string Text(const ByteReader& text) {
  return std::string(reinterpret_cast<const char*>(text.current()),
                     text.remaining());
}

bool PutOctetField(ByteWriter& w, uint8_t code, uint8_t value) {
  return w.PutShortInteger(code) && w.PutByte(value);
}

bool PutTextField(ByteWriter& w, uint8_t code, const std::string& text) {
  return w.PutShortInteger(code) && w.PutTextString(text.c_str());
}

bool PutFrom(ByteWriter& w, const std::string& sender) {
  ByteWriter value(kReplyCap);
  return value.PutByte(codec::kAddressPresentToken) &&
         value.PutTextString(sender.c_str()) &&
         w.PutShortInteger(codec::kFrom) && w.PutValueLengthAnd(value);
}

// An empty transaction ID leaves the field out.
bool PutIdentification(ByteWriter& w, uint8_t type,
                       const std::string& transaction_id) {
  return PutOctetField(w, codec::kMessageType, type) &&
         (transaction_id.empty() ||
          PutTextField(w, codec::kTransactionId, transaction_id)) &&
         PutOctetField(w, codec::kMmsVersion, codec::kMmsVersion10);
}

// From of a send request: empty for the Insert-address token.
bool ReadFrom(const ByteReader& value, std::string* from) {
  ByteReader inner;
  uint8_t token = 0;
  if (!codec::ReadLengthPrefixedValue(value, &inner) ||
      !inner.ReadByte(&token)) {
    return false;
  }
  if (token != codec::kAddressPresentToken) {
    from->clear();
    return true;
  }
  uint32_t charset = 0;
  ByteReader text;
  if (!codec::ReadEncodedStringValue(inner, &charset, &text)) {
    return false;
  }
  *from = Text(text);
  return true;
}

}  // namespace

uint8_t MessageType(const Bytes& pdu) {
  if (pdu.size() < 2 ||
      static_cast<uint8_t>(pdu[0]) != (0x80 | codec::kMessageType)) {
    return 0;
  }
  return static_cast<uint8_t>(pdu[1]);
}

std::string TransactionId(const Bytes& pdu) {
  ByteReader r(Data(pdu), pdu.size());
  HeaderField f;
  while (codec::NextHeaderField(r, &f) == FieldStep::kField) {
    ByteReader text;
    if (f.code == codec::kTransactionId &&
        codec::ReadTextValue(f.value, &text)) {
      return Text(text);
    }
    if (f.code == codec::kContentType) {
      break;
    }
  }
  return std::string();
}

uint8_t NotifyStatus(const Bytes& pdu) {
  ByteReader r(Data(pdu), pdu.size());
  HeaderField f;
  uint8_t status = 0;
  while (codec::NextHeaderField(r, &f) == FieldStep::kField) {
    if (f.code == codec::kStatus && f.value.ReadByte(&status)) {
      return status;
    }
  }
  return 0;
}

bool ParseSendRequest(const Bytes& pdu, SendRequest* request,
                      std::string* why) {
  if (MessageType(pdu) != codec::kMsgSendReq) {
    *why = "not an m-send-req";
    return false;
  }
  ByteReader r(Data(pdu), pdu.size());
  HeaderField f;
  for (;;) {
    const FieldStep step = codec::NextHeaderField(r, &f);
    // Where the field starts: the reader stays there when a step fails.
    const std::string at =
        " at offset " +
        std::to_string(step == FieldStep::kField ? f.offset : r.position());
    if (step == FieldStep::kEnd) {
      *why = "the header ends without a Content-Type";
      return false;
    }
    if (step == FieldStep::kTruncated) {
      *why = "a field runs past the end" + at;
      return false;
    }
    if (step == FieldStep::kBadByte) {
      *why = "a byte that begins no field" + at;
      return false;
    }
    const Bytes field = pdu.substr(f.offset, r.position() - f.offset);
    const Bytes value = field.substr(field.size() - f.value.size());
    switch (f.code) {
      case codec::kTransactionId: {
        ByteReader text;
        if (!codec::ReadTextValue(f.value, &text)) {
          *why = "an unreadable X-Mms-Transaction-Id" + at;
          return false;
        }
        request->transaction_id = Text(text);
        break;
      }
      case codec::kFrom:
        if (!ReadFrom(f.value, &request->from)) {
          *why = "an unreadable From" + at;
          return false;
        }
        break;
      case codec::kTo:
      case codec::kCc:
      case codec::kBcc: {
        uint32_t charset = 0;
        ByteReader text;
        if (!codec::ReadEncodedStringValue(f.value, &charset, &text)) {
          *why = std::string("an unreadable ") + f.row->name + at;
          return false;
        }
        request->recipients.push_back({Text(text), field, value});
        if (f.code != codec::kBcc) {
          request->address_fields += field;
        }
        break;
      }
      case codec::kSubject:
        request->subject_field = field;
        break;
      case codec::kContentType:
        request->content_type_field = field;
        request->body_offset = r.position();
        return true;
      default:
        break;
    }
  }
}

Bytes MakeSendConf(const std::string& transaction_id, uint8_t status,
                   const std::string& message_id, const std::string& text) {
  ByteWriter w(kReplyCap);
  const bool ok =
      PutIdentification(w, codec::kMsgSendConf, transaction_id) &&
      PutOctetField(w, codec::kResponseStatus, status) &&
      (text.empty() || PutTextField(w, codec::kResponseText, text)) &&
      (status != kResponseOk || PutTextField(w, codec::kMessageId, message_id));
  return ok ? Take(w) : Bytes();
}

Bytes MakeRetrieveConf(const SendRequest& request, const Bytes& send_req,
                       const RetrieveInfo& info) {
  const Bytes body = send_req.substr(request.body_offset);
  ByteWriter w(send_req.size() + kBodyHeadroom);
  const bool ok =
      PutIdentification(w, codec::kMsgRetrieveConf, info.transaction_id) &&
      PutTextField(w, codec::kMessageId, info.message_id) &&
      w.PutShortInteger(codec::kDate) && w.PutLongInteger(info.date) &&
      PutFrom(w, info.sender) &&
      w.PutBytes(request.address_fields.data(),
                 request.address_fields.size()) &&
      w.PutBytes(request.subject_field.data(), request.subject_field.size()) &&
      w.PutBytes(request.content_type_field.data(),
                 request.content_type_field.size()) &&
      w.PutBytes(body.data(), body.size());
  return ok ? Take(w) : Bytes();
}

Bytes MakeNotification(const NotificationInfo& info) {
  ByteWriter expiry(kReplyCap);
  ByteWriter w(kReplyCap);
  const bool ok =
      expiry.PutByte(codec::kRelativeToken) &&
      expiry.PutLongInteger(info.expiry) &&
      PutIdentification(w, codec::kMsgNotificationInd, info.transaction_id) &&
      PutFrom(w, info.sender) &&
      w.PutBytes(info.subject_field.data(), info.subject_field.size()) &&
      PutOctetField(w, codec::kMessageClass, codec::kClassPersonal) &&
      w.PutShortInteger(codec::kMessageSize) && w.PutLongInteger(info.size) &&
      w.PutShortInteger(codec::kExpiry) && w.PutValueLengthAnd(expiry) &&
      PutTextField(w, codec::kContentLocation, info.location);
  return ok ? Take(w) : Bytes();
}

Bytes MakeDeliveryInd(const std::string& message_id, const Bytes& to_value,
                      uint32_t date, uint8_t status) {
  ByteWriter w(kReplyCap);
  const bool ok =
      PutOctetField(w, codec::kMessageType, codec::kMsgDeliveryInd) &&
      PutOctetField(w, codec::kMmsVersion, codec::kMmsVersion10) &&
      PutTextField(w, codec::kMessageId, message_id) &&
      w.PutShortInteger(codec::kTo) &&
      w.PutBytes(to_value.data(), to_value.size()) &&
      w.PutShortInteger(codec::kDate) && w.PutLongInteger(date) &&
      PutOctetField(w, codec::kStatus, status);
  return ok ? Take(w) : Bytes();
}

Bytes WrapInWapPush(uint8_t tid, const Bytes& pdu) {
  // TID, PDU type, HeadersLen (uintvar), Content-Type, Data.
  ByteWriter w(pdu.size() + 16);
  const bool ok = w.PutByte(tid) && w.PutByte(kPushPduType) &&
                  w.PutUintvar(1) &&
                  w.PutShortInteger(kMmsMessageContentType) &&
                  w.PutBytes(pdu.data(), pdu.size());
  return ok ? Take(w) : Bytes();
}

}  // namespace centre
