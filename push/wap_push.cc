// wap_push.cc: the tolerant scanner that turns a push body into a
// WapPush_Message.
//
// It is not a header parser: every byte is taken as a field code (bit 7
// ignored); sixteen codes read a value, every other byte is passed over, so
// unknown values are scanned one byte at a time. All reads go through one
// ByteReader bounded by the body length. A value longer than its field is
// cut where a shortened text still means something (subject, response
// text) and skipped where it would name the wrong thing (IDs, location,
// numbers, expiry); a length that reaches past the body ends the scan.
#include "push/wap_push.h"

#include <cstring>
#include <new>
#include <string>

#include "codec/byte_reader.h"
#include "codec/header_table.h"
#include "platform/winapi.h"

namespace mms::push {

namespace {

using codec::ByteReader;

constexpr uint8_t kFieldCodeMask = 0x7F;
constexpr uint8_t kTextStop = 0x80;     // bytes above end a text
constexpr uint8_t kUtf8Charset = 0xEA;  // charset 106 as a short integer
constexpr uint8_t kLengthQuote = 0x1F;
constexpr uint8_t kAddressToken = 0x80;  // dropped from addresses
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;

enum class Overlong { kCut, kSkip };

// Drops a partial UTF-8 sequence left at the end of a cut text.
void TrimToUtf8Boundary(std::string* text) {
  size_t end = text->size();
  size_t back = 0;
  while (back < end && back < 4 &&
         (static_cast<uint8_t>((*text)[end - 1 - back]) & 0xC0) == 0x80) {
    ++back;
  }
  if (back == end) {
    return;
  }
  const auto lead = static_cast<uint8_t>((*text)[end - 1 - back]);
  size_t needed = 1;
  if ((lead & 0xE0) == 0xC0) {
    needed = 2;
  } else if ((lead & 0xF0) == 0xE0) {
    needed = 3;
  } else if ((lead & 0xF8) == 0xF0) {
    needed = 4;
  }
  if (lead >= 0xC0 && back + 1 < needed) {
    text->resize(end - 1 - back);
  }
}

// Stores text into *field as a new zero-ended block, replacing an earlier
// value. Over the limit it is cut or the field is left as it was.
void StoreBytes(std::string text, size_t limit, Overlong overlong, bool utf8,
                char** field) {
  if (text.size() > limit) {
    if (overlong == Overlong::kSkip) {
      return;
    }
    text.resize(limit);
    if (utf8) {
      TrimToUtf8Boundary(&text);
    }
  }
  auto* block = static_cast<char*>(LocalAlloc(LPTR, text.size() + 1));
  if (block == nullptr) {
    return;
  }
  std::memcpy(block, text.data(), text.size());
  LocalFree(*field);
  *field = block;
}

// Text: bytes up to a zero (consumed) or a byte above 0x80 (left for the
// scan, which reads it as the next field code).
std::string ReadText(ByteReader& r) {
  std::string text;
  uint8_t b = 0;
  while (r.PeekByte(&b)) {
    if (b > kTextStop) {
      break;
    }
    (void)r.ReadByte(&b);
    if (b == 0) {
      break;
    }
    text.push_back(static_cast<char>(b));
  }
  return text;
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

// value = value * 256 + octet for every octet: the last four count.
uint32_t FoldOctets(const ByteReader& value) {
  uint32_t folded = 0;
  for (size_t i = 0; i < value.remaining(); ++i) {
    folded = (folded << 8) | value.current()[i];
  }
  return folded;
}

SYSTEMTIME* LocalTimeOfSeconds(uint32_t seconds) {
  const int64_t units =
      static_cast<int64_t>(seconds) * kFileTimeUnitsPerSecond +
      kUnixEpochAsFileTime;
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFF);
  utc.dwHighDateTime = static_cast<DWORD>(units >> 32);
  FILETIME local;
  SYSTEMTIME time;
  if (!FileTimeToLocalFileTime(&utc, &local) ||
      !FileTimeToSystemTime(&local, &time)) {
    return nullptr;
  }
  auto* block = static_cast<SYSTEMTIME*>(LocalAlloc(LPTR, sizeof(time)));
  if (block != nullptr) {
    *block = time;
  }
  return block;
}

// Subject: charset-tagged when a 0xEA comes before the first zero.
bool ReadSubject(ByteReader& r, WapPush_Message* m) {
  bool tagged = false;
  for (size_t i = 0; i < r.remaining(); ++i) {
    const uint8_t b = r.current()[i];
    if (b == 0) {
      break;
    }
    if (b == kUtf8Charset) {
      tagged = true;
      break;
    }
  }
  std::string text;
  if (tagged) {
    uint8_t length = 0;
    if (!r.ReadByte(&length)) {
      return false;
    }
    if (length == kLengthQuote && !r.ReadByte(&length)) {
      return false;
    }
    ByteReader value;
    if (!r.Split(length, &value)) {
      return false;
    }
    uint8_t b = 0;
    while (value.ReadByte(&b)) {
      if (b != kUtf8Charset) {
        text.push_back(static_cast<char>(b));
      }
    }
    text = text.substr(0, text.find('\0'));
  } else {
    uint8_t b = 0;
    while (r.ReadByte(&b) && b != 0) {
      text.push_back(static_cast<char>(b));
    }
  }
  StoreBytes(std::move(text), kSubjectLimit, Overlong::kCut, true,
             &m->pszSubject);
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
  switch (code) {
    case codec::kContentLocation:
      StoreBytes(ReadText(r), kShortTextLimit, Overlong::kSkip, false,
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
      const std::string whole(reinterpret_cast<const char*>(value.current()),
                              value.remaining());
      StoreBytes(NumberPart(whole), kNumberLimit, Overlong::kSkip, false,
                 &m->pszFrom);
      return true;
    }
    case codec::kMessageClass:
      ReadByteField(r, &m->nMsgClass);
      return true;
    case codec::kMessageId:
      StoreBytes(ReadText(r), kLongTextLimit, Overlong::kSkip, false,
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
      const std::string text = ReadText(r);
      if (text.size() <= kLongTextLimit) {
        StoreBytes(NumberPart(text), kNumberLimit, Overlong::kSkip, false,
                   &m->pszTo);
      }
      return true;
    }
    case codec::kTransactionId:
      StoreBytes(ReadText(r), kShortTextLimit, Overlong::kSkip, false,
                 &m->pszTransactionId);
      return true;
    default:
      return true;  // not a field of ours: the next byte is a code again
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
  while (r.ReadByte(&byte)) {
    if (!ReadField(byte & kFieldCodeMask, r, message)) {
      break;  // a length ran past the body: nothing after it is ours
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
