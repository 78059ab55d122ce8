// header_decoder.cc: the header block of a retrieved or stored PDU into an
// MMS_Header, plus the message's Cc text and read-report flag.
//
// A forgiving scanner: it takes one field code at a time, handles the fields
// the library uses, steps over any other code byte alone, and stops at
// Content-Type, which is always the last header. Every read goes through a
// ByteReader; texts are cut at the 259-byte work buffer (the rest is read
// and dropped, so the scan stays in step with the PDU).
//
//   field            bytes after the code        kept in
//   Cc, To, Msg-ID   text to 0 (or to a byte>128) pszCc (run together), ...
//   Date             n, n bytes big-endian       pDate (local SYSTEMTIME)
//   From             n, n bytes; 128 dropped     pszFrom (cut at "/")
//   Subject          text, or len [234] text     pszSubject
//   Content-Type     163 | len value             pContentType, pszStart
#include <algorithm>
#include <climits>
#include <cstring>

#include "codec/byte_reader.h"
#include "codec/decode/decoder.h"
#include "codec/header_table.h"
#include "codec/records.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr size_t kTextCap = 259;      // text bytes a work buffer holds
constexpr size_t kTimeBytesCap = 16;  // value bytes of a date or time
constexpr uint8_t kLengthQuote = 31;
constexpr uint8_t kUtf8CharsetByte = 0x80 | kCharsetUtf8;             // 234
constexpr uint8_t kMultipartMixedByte = 0x80 | kTypeMultipartMixed;  // 163
constexpr uint8_t kTypeParamByte = 0x80 | kParamType;                // 137
constexpr uint8_t kStartParamByte = 0x80 | kParamStart;              // 138
constexpr char kAddressTypeSeparator = '/';

// 100-ns units between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;

enum class Scan { kOk, kTruncated, kNoMemory };

// A text field's work buffer: keeps the first kTextCap bytes it is given.
class TextBuffer {
 public:
  void Append(uint8_t b) {
    if (size_ < kTextCap) {
      bytes_[size_++] = static_cast<char>(b);
    }
  }
  size_t size() const { return size_; }
  const char* data() const { return bytes_; }

 private:
  char bytes_[kTextCap];
  size_t size_ = 0;
};

// New NUL-terminated LocalAlloc copy of bytes; null when out of memory.
char* CopyText(const char* bytes, size_t size) {
  char* copy = static_cast<char*>(LocalAlloc(LPTR, size + 1));
  if (copy != nullptr && size > 0) {
    std::memcpy(copy, bytes, size);
  }
  return copy;
}

// Replaces an owned text field; a later field of one kind wins.
bool ReplaceText(char** field, const TextBuffer& text) {
  char* copy = CopyText(text.data(), text.size());
  if (copy == nullptr) {
    return false;
  }
  LocalFree(*field);
  *field = copy;
  return true;
}

// Bytes 1..128 belong to the text; 0 ends it and is consumed; a byte above
// 128 ends it unconsumed (it is the next field code). False when the PDU
// ends inside the text (what was read is in out).
bool ReadTextRule(ByteReader& r, TextBuffer* out) {
  uint8_t b = 0;
  while (r.PeekByte(&b)) {
    if (b == 0) {
      return r.Skip(1);
    }
    if (b > 128) {
      return true;
    }
    out->Append(b);
    (void)r.Skip(1);
  }
  return false;
}

// Bytes up to and including the first 0 (the 0 itself is not kept).
bool ReadTerminated(ByteReader& r, TextBuffer* out) {
  uint8_t b = 0;
  while (r.ReadByte(&b)) {
    if (b == 0) {
      return true;
    }
    out->Append(b);
  }
  return false;
}

// Short-length n, then n bytes folded big-endian. *usable is false when n
// passes the 16-byte work buffer: the bytes are stepped over, not used.
bool ReadLongInteger(ByteReader& r, uint32_t* value, bool* usable) {
  uint8_t n = 0;
  const uint8_t* bytes = nullptr;
  if (!r.ReadByte(&n) || !r.ReadBytes(n, &bytes)) {
    return false;
  }
  uint32_t folded = 0;
  for (size_t i = 0; i < n; ++i) {
    folded = (folded << 8) | bytes[i];
  }
  *value = folded;
  *usable = n <= kTimeBytesCap;
  return true;
}

// Value-length: one byte, or 31 followed by a uintvar.
bool ReadValueLength(ByteReader& r, uint32_t* length) {
  uint8_t b = 0;
  if (!r.ReadByte(&b)) {
    return false;
  }
  if (b == kLengthQuote) {
    return r.ReadUintvar(length);
  }
  *length = b;
  return true;
}

Scan DecodeDate(ByteReader& r, MMS_Header* header) {
  uint32_t value = 0;
  bool usable = false;
  if (!ReadLongInteger(r, &value, &usable)) {
    return Scan::kTruncated;
  }
  if (!usable) {
    return Scan::kOk;
  }
  const int64_t seconds = static_cast<int32_t>(value);
  const uint64_t ticks =
      static_cast<uint64_t>(seconds * 10000000LL + kUnixEpochAsFileTime);
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(ticks);
  utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  FILETIME local;
  SYSTEMTIME time;
  if (!FileTimeToLocalFileTime(&utc, &local) ||
      !FileTimeToSystemTime(&local, &time)) {
    return Scan::kOk;
  }
  auto* block = static_cast<SYSTEMTIME*>(LocalAlloc(LPTR, sizeof(time)));
  if (block == nullptr) {
    return Scan::kNoMemory;
  }
  *block = time;
  LocalFree(header->pDate);
  header->pDate = block;
  return Scan::kOk;
}

// Delivery-Time and Expiry: length byte, token, Long-integer.
Scan DecodeTime(ByteReader& r, MMS_Header* header, bool relative_to_date) {
  uint8_t token = 0;
  uint32_t value = 0;
  bool usable = false;
  if (!r.Skip(1) || !r.ReadByte(&token) ||
      !ReadLongInteger(r, &value, &usable)) {
    return Scan::kTruncated;
  }
  if (!usable) {
    return Scan::kOk;
  }
  if (relative_to_date && token != kAbsoluteToken && header->pDate != nullptr) {
    value += static_cast<uint32_t>(SystemTimeToSeconds(header->pDate));
  }
  header->nExpiryTime = value;
  return Scan::kOk;
}

Scan DecodeFrom(ByteReader& r, MMS_Header* header) {
  uint8_t n = 0;
  const uint8_t* bytes = nullptr;
  if (!r.ReadByte(&n) || !r.ReadBytes(n, &bytes)) {
    return Scan::kTruncated;
  }
  TextBuffer text;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    if (b == 0 || b == kAddressTypeSeparator) {
      break;
    }
    if (b != kAddressPresentToken) {
      text.Append(b);
    }
  }
  return ReplaceText(&header->pszFrom, text) ? Scan::kOk : Scan::kNoMemory;
}

// Cc texts run together without separator, up to the 259 bytes the
// message's field holds; what does not fit is dropped.
Scan DecodeCc(ByteReader& r, MMS_Header* header, MMS_Custom_Data* message) {
  TextBuffer text;
  const bool whole = ReadTextRule(r, &text);
  if (header->pszCc == nullptr) {
    header->pszCc = static_cast<char*>(LocalAlloc(LPTR, kTextCap + 1));
    if (header->pszCc == nullptr) {
      return Scan::kNoMemory;
    }
  }
  const size_t used = strnlen(header->pszCc, kTextCap);
  const size_t take = std::min(text.size(), kTextCap - used);
  std::memcpy(header->pszCc + used, text.data(), take);
  std::memcpy(message->m_szCcName, header->pszCc, kTextCap + 1);
  return whole ? Scan::kOk : Scan::kTruncated;
}

// A subject with the UTF-8 charset byte before its first 0 is an
// Encoded-string-value; anything else is taken as a plain text.
Scan DecodeSubject(ByteReader& r, MMS_Header* header) {
  bool has_charset = false;
  {
    const size_t start = r.position();
    uint8_t b = 0;
    while (r.ReadByte(&b) && b != 0) {
      has_charset = has_charset || b == kUtf8CharsetByte;
    }
    r.Rewind(start);
  }
  TextBuffer text;
  bool whole = true;
  uint8_t first = 0;
  if (!has_charset) {
    whole = ReadTerminated(r, &text);
  } else if (!r.ReadByte(&first)) {
    whole = false;
  } else if (first == kUtf8CharsetByte) {
    whole = ReadTerminated(r, &text);
  } else {
    uint32_t length = first;
    const uint8_t* bytes = nullptr;
    if ((first == kLengthQuote && !r.ReadUintvar(&length)) ||
        !r.ReadBytes(length, &bytes)) {
      return Scan::kTruncated;
    }
    for (size_t i = 0; i < length && bytes[i] != 0; ++i) {
      if (bytes[i] != kUtf8CharsetByte) {
        text.Append(bytes[i]);
      }
    }
  }
  if (!ReplaceText(&header->pszSubject, text)) {
    return Scan::kNoMemory;
  }
  return whole ? Scan::kOk : Scan::kTruncated;
}

// Content-Type ends the header. Its value is read whole, so the body
// starts exactly after it whatever parameter comes last.
Scan DecodeContentType(ByteReader& r, MMS_Header* header) {
  uint8_t b = 0;
  if (!r.PeekByte(&b)) {
    return Scan::kTruncated;
  }
  if (b == kMultipartMixedByte) {
    (void)r.Skip(1);
    auto* type = static_cast<unsigned char*>(LocalAlloc(LPTR, 1));
    if (type == nullptr) {
      return Scan::kNoMemory;
    }
    type[0] = b;
    LocalFree(header->pContentType);
    header->pContentType = type;
    return Scan::kOk;
  }
  uint32_t length = 0;
  ByteReader value;
  if (!ReadValueLength(r, &length) || !r.Split(length, &value)) {
    return Scan::kTruncated;
  }
  (void)value.Skip(1);  // the media type itself
  while (value.ReadByte(&b)) {
    if (b != kTypeParamByte && b != kStartParamByte) {
      continue;
    }
    TextBuffer text;
    (void)ReadTerminated(value, &text);
    char** field = b == kStartParamByte
                       ? &header->pszStart
                       : reinterpret_cast<char**>(&header->pContentType);
    if (!ReplaceText(field, text)) {
      return Scan::kNoMemory;
    }
  }
  return Scan::kOk;
}

// One field after its code byte; codes without handling take no value.
Scan DecodeField(uint8_t code, ByteReader& r, MMS_Header* header,
                 MMS_Custom_Data* message) {
  uint8_t* octet = nullptr;
  switch (code) {
    case kCc:
      return DecodeCc(r, header, message);
    case kDate:
      return DecodeDate(r, header);
    case kDeliveryTime:
      return DecodeTime(r, header, /*relative_to_date=*/true);
    case kExpiry:
      return DecodeTime(r, header, /*relative_to_date=*/false);
    case kFrom:
      return DecodeFrom(r, header);
    case kSubject:
      return DecodeSubject(r, header);
    case kMessageId:
    case kTo:
    case kTransactionId: {
      TextBuffer text;
      const bool whole = ReadTextRule(r, &text);
      char** field = code == kMessageId ? &header->pszMessageId
                     : code == kTo      ? &header->pszTo
                                        : &header->pszTransactionId;
      if (!ReplaceText(field, text)) {
        return Scan::kNoMemory;
      }
      return whole ? Scan::kOk : Scan::kTruncated;
    }
    case kDeliveryReport:
      octet = &header->byDeliveryReport;
      break;
    case kMessageClass:
      octet = &header->byMessageClass;
      break;
    case kMessageType:
      octet = &header->nMsgType;
      break;
    case kMmsVersion:
      octet = &header->nMmsVersion;
      break;
    case kPriority:
      octet = &header->byPriority;
      break;
    case kReadReport:
      octet = &header->byReadReport;
      break;
    case kSenderVisibility:
      octet = &header->bySenderVisibility;
      break;
    default:
      return Scan::kOk;
  }
  if (!r.ReadByte(octet)) {
    return Scan::kTruncated;
  }
  if (code == kReadReport && *octet == kYes) {
    message->m_bReadReport = 1;
  }
  return Scan::kOk;
}

int DecodeHeaderFrom(ByteReader& r, MMS_Header* header,
                     MMS_Custom_Data* message, int* header_length) {
  for (;;) {
    uint8_t b = 0;
    do {
      if (!r.ReadByte(&b)) {
        return -1;
      }
    } while (b == 0);
    const uint8_t code = b & 0x7F;  // bit 7 is not required
    const Scan scan = code == kContentType
                          ? DecodeContentType(r, header)
                          : DecodeField(code, r, header, message);
    if (scan != Scan::kOk) {
      return -1;
    }
    if (code == kContentType) {
      if (header_length != nullptr) {
        *header_length = static_cast<int>(r.position());
      }
      return 0;
    }
  }
}

}  // namespace

int DecodeMmsHeaderBounded(MMS_Header* header, const uint8_t* pdu,
                           size_t size, MMS_Custom_Data* message,
                           int* headerLength) {
  if (header == nullptr || pdu == nullptr || message == nullptr ||
      size > static_cast<size_t>(INT_MAX)) {
    return -1;
  }
  ByteReader r(pdu, size);
  return DecodeHeaderFrom(r, header, message, headerLength);
}

}  // namespace mms::codec

// The caller gives no length: the scan trusts the PDU to end its header
// with a Content-Type, as every PDU of the message store does, and reads
// until then.
int DecodeMmsHeader(MMS_Header* header, const unsigned char* pdu,
                    MMS_Custom_Data* message, int* headerLength) {
  return mms::codec::DecodeMmsHeaderBounded(header, pdu, INT_MAX, message,
                                            headerLength);
}

// Private helpers of the exported class. They take bare pointers and no
// length, so they read what the pointer says is there; the library itself
// decodes through the bounded functions above.

wchar_t* CMMS::ConvertByteToUTF8(unsigned char* bytes, int count) {
  if (bytes == nullptr || count < 0) {
    return nullptr;
  }
  auto* out = static_cast<wchar_t*>(
      LocalAlloc(LPTR, (static_cast<size_t>(count) + 1) * sizeof(wchar_t)));
  if (out == nullptr) {
    return nullptr;
  }
  int i = 0;
  if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    i = 3;
  }
  size_t n = 0;
  while (i < count) {
    const unsigned char lead = bytes[i++];
    int more = 0;
    if ((lead & 0xE0) == 0xC0) {
      more = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      more = 2;
    } else if ((lead & 0xF0) == 0xF0) {
      LocalFree(out);
      return nullptr;
    }
    uint32_t unit = more == 0 ? lead : (lead & (more == 1 ? 0x1F : 0x0F));
    for (int k = 0; k < more; ++k) {
      if (i >= count || (bytes[i] & 0xC0) != 0x80) {
        LocalFree(out);
        return nullptr;
      }
      unit = (unit << 6) | (bytes[i++] & 0x3F);
    }
    out[n++] = static_cast<wchar_t>(unit);
  }
  return out;
}

int CMMS::ConvertLengthToInt(unsigned char* p) {
  if (p == nullptr) {
    return 0;
  }
  if (p[1] == 3) {
    return p[0];
  }
  return ((p[0] & 0x7F) << 7) | (p[1] & 0x7F);
}

long CMMS::ConvertLengthToLong(unsigned char* p) {
  if (p == nullptr) {
    return 0;
  }
  unsigned long value = 0;  // unsigned: long inputs wrap, never overflow
  for (; *p != 0; ++p) {
    value = value * 256 + *p;
  }
  return static_cast<long>(value);
}
