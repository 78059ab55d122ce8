// wap_push.cc: the tolerant scanner that turns a push body into a
// WapPush_Message.
//
// Sixteen field codes read a value (bit 7 not required); every other field
// is stepped over by the form of its value through the codec's WSP reader,
// so its bytes are never taken for codes; a byte from 32 to 127 starts a
// textual header. All reads go through one ByteReader bounded by the body
// length. Subjects become UTF-8 and addresses system code page text, from
// whatever charset they were sent in. A value longer than its field is
// cut where a shortened text still means something (subject, response
// text) and skipped where it would name the wrong thing (IDs, location,
// numbers, expiry); a length that reaches past the body ends the scan.
#include "push/wap_push.h"

#include <cstring>
#include <new>
#include <string>

#include "codec/byte_reader.h"
#include "codec/header_fields.h"
#include "codec/header_table.h"
#include "codec/text_decode.h"
#include "codec/uintvar.h"
#include "codec/wsp_reader.h"
#include "platform/winapi.h"

namespace mms::push {

namespace {

using codec::ByteReader;

constexpr uint8_t kFieldCodeMask = 0x7F;
constexpr uint8_t kAddressToken = 0x80;  // dropped from addresses

enum class Overlong { kCut, kSkip };

// Stores text into *field as a new zero-ended block, replacing an earlier
// value. Over the limit it is cut or the field is left as it was.
void StoreBytes(std::string text, size_t limit, Overlong overlong, bool utf8,
                char** field) {
  if (text.size() > limit) {
    if (overlong == Overlong::kSkip) {
      return;
    }
    text.resize(utf8 ? codec::Utf8Prefix(text, limit) : limit);
  }
  auto* block = static_cast<char*>(LocalAlloc(LPTR, text.size() + 1));
  if (block == nullptr) {
    return;
  }
  std::memcpy(block, text.data(), text.size());
  LocalFree(*field);
  *field = block;
}

// A text field: the codec's text rule; a text in a charset comes out as
// system code page text. False (nothing read) when there is none.
bool ReadText(ByteReader& r, std::string* text) {
  codec::EncodedString value;
  uint8_t first = 0;
  if (!codec::ReadTextRule(r, &value)) {
    if (!r.PeekByte(&first) || first < 32) {
      return false;
    }
    // A text that runs to the end of the body ends there.
    text->clear();
    while (r.PeekByte(&first) && first <= 0x80) {
      text->push_back(static_cast<char>(first));
      (void)r.Skip(1);
    }
    return true;
  }
  *text = value.charset == 0 ? codec::TextOf(value.text)
                             : codec::TextToAnsi(value.charset, value.text);
  return true;
}

// Steps over a field's value by the form its code gives it.
bool SkipField(uint8_t code, ByteReader& r) {
  const codec::HeaderRow* row = codec::FindHeader(code);
  ByteReader value;
  return codec::SplitFieldValue(
      r, row == nullptr ? codec::ValueKind::kLengthPrefixed : row->kind,
      &value);
}

// Short length, then that many bytes as a child reader. A signed length
// of 0x80 or more counts as 0. False when the length or its bytes run past
// the body.
bool ReadShortLengthValue(ByteReader& r, bool is_signed, ByteReader* value) {
  uint8_t length = 0;
  if (!r.ReadByte(&length)) {
    return false;
  }
  if (is_signed && length >= 0x80) {
    length = 0;
  }
  return r.Split(length, value);
}

// The value's bytes up to its first zero.
std::string UpToZero(const ByteReader& value) {
  const auto* bytes = reinterpret_cast<const char*>(value.current());
  const size_t n = value.remaining();
  const void* zero = n == 0 ? nullptr : std::memchr(bytes, 0, n);
  return std::string(
      bytes, zero != nullptr ? static_cast<const char*>(zero) - bytes : n);
}

// Number part of an address: 0x80 bytes dropped, cut at the first '/'
// (which also removes "/TYPE=PLMN").
std::string NumberPart(const std::string& address) {
  std::string number;
  for (char c : address) {
    if (c == '/' || c == '\0') {
      break;
    }
    if (static_cast<uint8_t>(c) != kAddressToken) {
      number.push_back(c);
    }
  }
  return number;
}

// From: the token and an Encoded-string-value in any charset; a value of
// another shape keeps the phone's reading of its bytes.
std::string FromAddress(const ByteReader& value) {
  ByteReader rest = value;
  uint8_t token = 0;
  codec::EncodedString address;
  if (rest.ReadByte(&token) && token == kAddressToken &&
      codec::ReadEncodedString(rest, &address)) {
    return codec::TextToAnsi(address.charset, address.text);
  }
  return std::string(reinterpret_cast<const char*>(value.current()),
                     value.remaining());
}

// value = value * 256 + octet for every octet: the last four count.
uint32_t FoldOctets(const ByteReader& value) {
  uint32_t folded = 0;
  for (size_t i = 0; i < value.remaining(); ++i) {
    folded = (folded << 8) | value.current()[i];
  }
  return folded;
}

SYSTEMTIME* LocalTimeOfSeconds(uint32_t seconds) {
  SYSTEMTIME time;
  if (!codec::SecondsToLocalTime(seconds, codec::DateSign::kUnsigned, &time)) {
    return nullptr;
  }
  auto* block = static_cast<SYSTEMTIME*>(LocalAlloc(LPTR, sizeof(time)));
  if (block != nullptr) {
    *block = time;
  }
  return block;
}

// Subject: an Encoded-string-value in any charset, as UTF-8. A value in
// no readable form is stepped over.
bool ReadSubject(ByteReader& r, WapPush_Message* m) {
  codec::EncodedString value;
  if (!codec::ReadEncodedString(r, &value)) {
    return SkipField(codec::kSubject, r);
  }
  StoreBytes(codec::TextToUtf8(value.charset, value.text), kSubjectLimit,
             Overlong::kCut, true, &m->pszSubject);
  return true;
}

void ReadByteField(ByteReader& r, unsigned char* field) {
  uint8_t b = 0;
  if (r.ReadByte(&b)) {
    *field = b;
  }
}

// Reads the value of one field; false when a length reaches past the body.
bool ReadField(uint8_t code, ByteReader& r, WapPush_Message* m) {
  ByteReader value;
  std::string text;
  switch (code) {
    case codec::kContentLocation:
      if (!ReadText(r, &text)) {
        return SkipField(code, r);
      }
      StoreBytes(text, kLocationLimit, Overlong::kSkip, false,
                 &m->pszContentLocation);
      return true;
    case codec::kDate: {
      if (!ReadShortLengthValue(r, false, &value)) {
        return false;
      }
      SYSTEMTIME* date = LocalTimeOfSeconds(FoldOctets(value));
      if (date != nullptr) {
        LocalFree(m->pDate);
        m->pDate = date;
      }
      return true;
    }
    case codec::kExpiry:
      if (!ReadShortLengthValue(r, true, &value)) {
        return false;
      }
      StoreBytes(UpToZero(value), kShortTextLimit, Overlong::kSkip, false,
                 reinterpret_cast<char**>(&m->pExpiry));
      return true;
    case codec::kFrom: {
      if (!ReadShortLengthValue(r, false, &value)) {
        return false;
      }
      if (value.remaining() > kFromValueLimit) {
        return true;  // skipped: a longer value is no phone number
      }
      StoreBytes(NumberPart(FromAddress(value)), kNumberLimit, Overlong::kSkip,
                 false, &m->pszFrom);
      return true;
    }
    case codec::kMessageClass: {
      uint8_t b = 0;
      if (r.PeekByte(&b) && b < 0x80) {
        return SkipField(code, r);  // a class given as text
      }
      ReadByteField(r, &m->nMsgClass);
      return true;
    }
    case codec::kMessageId:
      if (!ReadText(r, &text)) {
        return SkipField(code, r);
      }
      StoreBytes(text, kLongTextLimit, Overlong::kSkip, false,
                 &m->pszMessageId);
      return true;
    case codec::kMessageType:
      ReadByteField(r, &m->nMsgType);
      return true;
    case codec::kMmsVersion:
      ReadByteField(r, &m->nMmsVersion);
      return true;
    case codec::kMessageSize:
      if (!ReadShortLengthValue(r, true, &value)) {
        return false;
      }
      m->nMsgSize = FoldOctets(value);
      return true;
    case codec::kReportAllowed:
      ReadByteField(r, &m->nReportAllowed);
      return true;
    case codec::kResponseStatus:
      ReadByteField(r, &m->nResponseStatus);
      return true;
    case codec::kResponseText:
      if (!ReadShortLengthValue(r, true, &value)) {
        return false;
      }
      StoreBytes(UpToZero(value), kShortTextLimit, Overlong::kCut, false,
                 &m->pszResponseText);
      return true;
    case codec::kStatus:
      ReadByteField(r, &m->nStatus);
      return true;
    case codec::kSubject:
      return ReadSubject(r, m);
    case codec::kTo: {
      if (!ReadText(r, &text)) {
        return SkipField(code, r);
      }
      if (text.size() <= kLongTextLimit) {
        StoreBytes(NumberPart(text), kNumberLimit, Overlong::kSkip, false,
                   &m->pszTo);
      }
      return true;
    }
    case codec::kTransactionId:
      if (!ReadText(r, &text)) {
        return SkipField(code, r);
      }
      StoreBytes(text, kShortTextLimit, Overlong::kSkip, false,
                 &m->pszTransactionId);
      return true;
    case 0:
      return true;  // a stray 0 between fields
    default:
      return SkipField(code, r);  // not a field of ours: stepped over whole
  }
}

}  // namespace

void DecodePushBody(const uint8_t* body, size_t length,
                    WapPush_Message* message) {
  if (body == nullptr || message == nullptr) {
    return;
  }
  ByteReader r(body, length);
  uint8_t byte = 0;
  while (r.PeekByte(&byte)) {
    bool ok = true;
    if (byte >= 32 && byte < 0x80) {
      // A textual header: its name and value texts, neither of them used.
      ByteReader name;
      ByteReader value;
      ok = codec::SplitText(r, &name) && codec::SplitText(r, &value);
    } else {
      (void)r.Skip(1);
      ok = ReadField(byte & kFieldCodeMask, r, message);
    }
    if (!ok) {
      break;  // a value ran past the body: nothing after it is ours
    }
  }
}

WapPush_Message* DecodePush(const PUSHMSG* push) {
  if (push == nullptr) {
    return nullptr;
  }
  auto* message =
      static_cast<WapPush_Message*>(LocalAlloc(LPTR, sizeof(WapPush_Message)));
  if (message == nullptr) {
    return nullptr;
  }
  if (push->pbBody != nullptr && push->cbBody != 0) {
    DecodePushBody(push->pbBody, push->cbBody, message);
  }
  return message;
}

void FreeWapPushMessage(WapPush_Message* message) {
  if (message == nullptr) {
    return;
  }
  LocalFree(message->pszTransactionId);
  LocalFree(message->pszContentLocation);
  LocalFree(message->pExpiry);
  LocalFree(message->pszFrom);
  LocalFree(message->pszTo);
  LocalFree(message->pszSubject);
  LocalFree(message->pszResponseText);
  LocalFree(message->pszMessageId);
  LocalFree(message->pDate);
  LocalFree(message);
}

}  // namespace mms::push

WapPush_Message* CMMS::DecodeWapPush(tagPushMsg* push) {
  return mms::push::DecodePush(push);
}

int CMMS::DecodeWapPush_Body(unsigned char* body, WapPush_Message* message,
                             int length) {
  if (length >= 1) {
    mms::push::DecodePushBody(body, static_cast<size_t>(length), message);
  }
  return 1;
}

int CMMS::DecodeWapPush_Header(unsigned char* /*header*/,
                               WapPush_Message* /*message*/, int /*length*/) {
  return 1;
}
