// push_datagram.cc: reading and writing the connectionless WSP Push PDU.
//
// The parser reads through one ByteReader bounded by the datagram; the
// content type is read from a child reader bounded by HeadersLen, so no
// field can reach into the body. Only Push (0x06) is accepted: a
// connectionless gateway never sends the other PDU types to this port.
#include "pushrouter/push_datagram.h"

#include "codec/byte_reader.h"
#include "codec/byte_writer.h"

namespace mms::pushrouter {
namespace {

using codec::ByteReader;

constexpr uint8_t kLengthQuote = 31;  // Value-length: uintvar follows
constexpr uint8_t kMaxShortLength = 30;
constexpr uint8_t kFirstTextByte = 32;  // Text-string starts at 32..127
constexpr size_t kMaxContentTypeText = 255;

struct WellKnownType {
  uint8_t code;
  const char* name;
};

constexpr WellKnownType kWellKnownTypes[] = {
    {kWellKnownMmsMessage, kMmsMessageType},
};

const char* WellKnownName(uint8_t code) {
  for (const WellKnownType& t : kWellKnownTypes) {
    if (t.code == code) {
      return t.name;
    }
  }
  return nullptr;
}

int WellKnownCode(const std::string& folded) {
  for (const WellKnownType& t : kWellKnownTypes) {
    if (folded == t.name) {
      return t.code;
    }
  }
  return -1;
}

void TakeCode(uint8_t code, PushDatagram* push) {
  push->well_known_code = code;
  const char* name = WellKnownName(code);
  push->content_type = name == nullptr ? "" : name;
}

// Text-string up to its 0, which is consumed.
bool ReadText(ByteReader* r, std::string* text) {
  text->clear();
  uint8_t b = 0;
  while (r->ReadByte(&b)) {
    if (b == 0) {
      return true;
    }
    if (text->size() == kMaxContentTypeText) {
      return false;
    }
    text->push_back(static_cast<char>(b));
  }
  return false;
}

// Media type of the general form: Well-known-media or Extension-media,
// parameters ignored.
bool ReadMediaType(ByteReader* value, PushDatagram* push) {
  uint8_t b = 0;
  if (!value->PeekByte(&b)) {
    return false;
  }
  if (b >= 0x80) {
    (void)value->ReadByte(&b);
    TakeCode(b & 0x7F, push);
    return true;
  }
  if (b >= kFirstTextByte) {
    return ReadText(value, &push->content_type);
  }
  // A Long-integer media code: no push type this router knows has one.
  push->well_known_code = 0x7FFFFFFF;
  push->content_type.clear();
  return true;
}

bool ReadContentType(ByteReader* r, PushDatagram* push) {
  uint8_t b = 0;
  if (!r->PeekByte(&b)) {
    return false;
  }
  if (b >= 0x80) {
    (void)r->ReadByte(&b);
    TakeCode(b & 0x7F, push);
    return true;
  }
  if (b >= kFirstTextByte) {
    return ReadText(r, &push->content_type);
  }
  // Content-general-form: Value-length, then the media type inside it.
  (void)r->ReadByte(&b);
  uint32_t length = b;
  if (b == kLengthQuote) {
    if (!r->ReadUintvar(&length)) {
      return false;
    }
  } else if (b > kMaxShortLength || b == 0) {
    return false;
  }
  ByteReader value;
  return r->Split(length, &value) && ReadMediaType(&value, push);
}

}  // namespace

const char* DatagramErrorName(DatagramError error) {
  switch (error) {
    case DatagramError::kNone:
      return "ok";
    case DatagramError::kTruncated:
      return "truncated";
    case DatagramError::kNotPush:
      return "not-push";
    case DatagramError::kHeadersPastEnd:
      return "headers-past-end";
    case DatagramError::kBadContentType:
      return "bad-content-type";
    case DatagramError::kOversized:
      return "oversized";
  }
  return "unknown";
}

PushFileKind ClassifyPushFile(const std::vector<uint8_t>& bytes) {
  constexpr uint8_t kMmsMessageTypeField = 0x8C;
  if (bytes.size() >= 2 && bytes[1] == kWspPduPush) {
    return PushFileKind::kPushPdu;
  }
  if (!bytes.empty() && bytes[0] == kMmsMessageTypeField) {
    return PushFileKind::kMmsPdu;
  }
  return PushFileKind::kUnknown;
}

std::string FoldContentType(const std::string& content_type) {
  std::string folded = content_type;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return folded;
}

DatagramError ParsePushDatagram(const uint8_t* data, size_t size,
                                PushDatagram* push) {
  *push = PushDatagram();
  if (size > kMaxPushDatagram) {
    return DatagramError::kOversized;
  }
  ByteReader r(data, size);
  uint8_t pdu_type = 0;
  uint32_t headers_length = 0;
  if (!r.ReadByte(&push->transaction_id) || !r.ReadByte(&pdu_type)) {
    return DatagramError::kTruncated;
  }
  if (pdu_type != kWspPduPush) {
    return DatagramError::kNotPush;
  }
  if (!r.ReadUintvar(&headers_length)) {
    return DatagramError::kTruncated;
  }
  ByteReader headers;
  if (!r.Split(headers_length, &headers)) {
    return DatagramError::kHeadersPastEnd;
  }
  if (!ReadContentType(&headers, push)) {
    return DatagramError::kBadContentType;
  }
  push->headers = headers.current();
  push->headers_size = headers.remaining();
  push->body = r.current();
  push->body_size = r.remaining();
  return DatagramError::kNone;
}

bool BuildPushDatagram(uint8_t transaction_id, const std::string& content_type,
                       const std::vector<uint8_t>& headers,
                       const std::vector<uint8_t>& body,
                       std::vector<uint8_t>* datagram) {
  codec::ByteWriter head(kMaxPushDatagram);
  const int code = WellKnownCode(FoldContentType(content_type));
  bool ok = code >= 0 ? head.PutShortInteger(static_cast<uint8_t>(code))
                      : head.PutTextString(content_type.c_str());
  ok = ok && head.PutBytes(headers.data(), headers.size());
  codec::ByteWriter pdu(kMaxPushDatagram);
  ok = ok && pdu.PutByte(transaction_id) && pdu.PutByte(kWspPduPush) &&
       pdu.PutUintvar(static_cast<uint32_t>(head.size())) &&
       pdu.PutWriter(head) && pdu.PutBytes(body.data(), body.size());
  if (!ok) {
    return false;
  }
  datagram->assign(pdu.data(), pdu.data() + pdu.size());
  return true;
}

}  // namespace mms::pushrouter
