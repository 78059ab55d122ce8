// header_decoder.cc: the header block of a retrieved or stored PDU into an
// MMS_Header, plus the message's Cc text and read-report flag.
//
// Every field is read by the form of its value through the one WSP reader
// (wsp_reader.h): a field the library does not use is stepped over whole,
// so its value bytes are never taken for field codes. A byte below 32 is
// still a field code sent without bit 7; a byte from 32 to 127 starts a
// textual header (name and value texts). Content-Type ends the header.
//
//   field            value form                   kept in
//   Cc, To           Encoded-string-value          pszCc (run together),
//                                                  pszTo (joined by ",")
//   Msg-ID, Tr-ID    Text-string                   pszMessageId, ...
//   Date             Long-integer                  pDate (local SYSTEMTIME)
//   From             length, token, address        pszFrom (cut at "/")
//   Subject          Encoded-string-value          pszSubject (UTF-8)
//   Content-Type     Content-type-value            pContentType, pszStart
//
// Addresses are converted to the system code page, subjects to UTF-8.
#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "codec/byte_reader.h"
#include "codec/decode/decoder.h"
#include "codec/header_fields.h"
#include "codec/header_table.h"
#include "codec/records.h"
#include "codec/text_decode.h"
#include "codec/uintvar.h"
#include "codec/wsp_reader.h"
#include "model/ansi_text.h"
#include "platform/heap.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr size_t kTextCap = 259;      // text bytes a work buffer holds
constexpr size_t kTimeBytesCap = 16;  // value bytes of a date or time
constexpr uint8_t kMultipartMixedByte = 0x80 | kTypeMultipartMixed;  // 163
constexpr char kAddressTypeSeparator = '/';
constexpr char kRecipientSeparator = ',';

// 100-ns units between 1601-01-01 and 1970-01-01.

enum class Scan { kOk, kTruncated, kNoMemory };

// New NUL-terminated LocalAlloc copy of bytes; null when out of memory.
// Not inlined: knowing that a field holds at most kTextCap bytes, the
// compiler would copy with a string instruction that starts slower than a
// whole short copy through memcpy.
__attribute__((noinline)) char* CopyText(const char* bytes, size_t size) {
  char* copy = static_cast<char*>(LocalAllocUnlisted(LMEM_FIXED, size + 1));
  if (copy != nullptr) {
    if (size > 0) {
      std::memcpy(copy, bytes, size);
    }
    copy[size] = '\0';
  }
  return copy;
}

// Replaces an owned text field with the first kTextCap of size bytes.
bool ReplaceText(char** field, const void* bytes, size_t size) {
  char* copy =
      CopyText(static_cast<const char*>(bytes), std::min(size, kTextCap));
  if (copy == nullptr) {
    return false;
  }
  LocalFree(*field);
  *field = copy;
  return true;
}

// A text converted on the stack, so that a kept field costs one block.
// One byte more than a field holds tells whether the text was longer.
struct FieldText {
  char bytes[kTextCap + 1 + kIntoSlack];
  size_t size = 0;
};

// The field as a block of kTextCap + 1 bytes that texts are appended to
// (an earlier value moved into it); null when out of memory.
char* AppendableField(char** field) {
  if (*field != nullptr && LocalSize(*field) >= kTextCap + 1) {
    return *field;
  }
  auto* block = static_cast<char*>(LocalAllocUnlisted(LPTR, kTextCap + 1));
  if (block == nullptr) {
    return nullptr;
  }
  if (*field != nullptr) {
    std::memcpy(block, *field, strnlen(*field, kTextCap));
    LocalFree(*field);
  }
  *field = block;
  return block;
}

// Steps over the value of a field that could not be read in its own form
// (or that the library does not use); kTruncated when the value is cut.
Scan SkipField(ByteReader& r, uint8_t code) {
  const HeaderRow* row = FindHeader(code);
  ByteReader value;
  return SplitFieldValue(
             r, row == nullptr ? ValueKind::kLengthPrefixed : row->kind, &value)
             ? Scan::kOk
             : Scan::kTruncated;
}

// Short-length n, then n bytes folded big-endian. *usable is false when n
// passes the 16-byte work buffer: the bytes are stepped over, not used.
bool ReadFoldedInteger(ByteReader& r, uint32_t* value, bool* usable) {
  uint8_t n = 0;
  const uint8_t* bytes = nullptr;
  if (!r.PeekByte(&n) || n > 30 || !r.Skip(1) || !r.ReadBytes(n, &bytes)) {
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

Scan DecodeDate(ByteReader& r, MMS_Header* header) {
  uint32_t value = 0;
  bool usable = false;
  if (!ReadFoldedInteger(r, &value, &usable)) {
    return SkipField(r, kDate);
  }
  if (!usable) {
    return Scan::kOk;
  }
  SYSTEMTIME time;
  if (!SecondsToLocalTime(value, DateSign::kSigned, &time)) {
    return Scan::kOk;
  }
  auto* block =
      static_cast<SYSTEMTIME*>(LocalAllocUnlisted(LPTR, sizeof(time)));
  if (block == nullptr) {
    return Scan::kNoMemory;
  }
  *block = time;
  LocalFree(header->pDate);
  header->pDate = block;
  return Scan::kOk;
}

// Delivery-Time and Expiry: Value-length, token, Long-integer.
Scan DecodeTime(ByteReader& r, MMS_Header* header, bool relative_to_date) {
  ByteReader value;
  if (!SplitLengthPrefixed(r, &value)) {
    return SkipField(r, kExpiry);
  }
  uint8_t token = 0;
  uint32_t seconds = 0;
  bool usable = false;
  uint8_t b = 0;
  if (!value.ReadByte(&token)) {
    return Scan::kOk;
  }
  if (value.PeekByte(&b) && b >= 0x80) {
    seconds = b & 0x7F;  // a Delta-seconds sent as a Short-integer
    usable = true;
  } else if (!ReadFoldedInteger(value, &seconds, &usable)) {
    return Scan::kOk;
  }
  if (!usable) {
    return Scan::kOk;
  }
  if (relative_to_date && token != kAbsoluteToken && header->pDate != nullptr) {
    seconds += static_cast<uint32_t>(SystemTimeToSeconds(header->pDate));
  }
  header->nExpiryTime = seconds;
  return Scan::kOk;
}

Scan DecodeFrom(ByteReader& r, MMS_Header* header) {
  ByteReader value;
  if (!SplitLengthPrefixed(r, &value)) {
    return SkipField(r, kFrom);
  }
  FieldText text;
  uint8_t token = 0;
  EncodedString address;
  ByteReader rest = value;
  if (rest.ReadByte(&token) && token == kInsertAddressToken && rest.empty()) {
    return Scan::kOk;  // the centre fills the sender in: no address here
  }
  if (token == kAddressPresentToken && ReadEncodedString(rest, &address)) {
    // The address up to its first "/".
    text.size =
        TextToAnsiInto(address.charset, address.text, text.bytes, kTextCap);
    const void* slash =
        std::memchr(text.bytes, kAddressTypeSeparator, text.size);
    if (slash != nullptr) {
      text.size =
          static_cast<size_t>(static_cast<const char*>(slash) - text.bytes);
    }
  } else {
    // Not an address the standard way: the bytes, 128 dropped.
    const uint8_t* bytes = value.current();
    for (size_t i = 0; i < value.remaining() && text.size < kTextCap; ++i) {
      if (bytes[i] == 0 || bytes[i] == kAddressTypeSeparator) {
        break;
      }
      if (bytes[i] != kAddressPresentToken) {
        text.bytes[text.size++] = static_cast<char>(bytes[i]);
      }
    }
  }
  return ReplaceText(&header->pszFrom, text.bytes, text.size) ? Scan::kOk
                                                              : Scan::kNoMemory;
}

// Reads a text-rule field; a value in no readable form is stepped over.
Scan ReadAddressText(ByteReader& r, uint8_t code, FieldText* text, bool* got) {
  EncodedString value;
  *got = ReadTextRule(r, &value);
  if (!*got) {
    return SkipField(r, code);
  }
  text->size =
      TextToAnsiInto(value.charset, value.text, text->bytes, kTextCap + 1);
  return Scan::kOk;
}

// Cc texts run together without separator, up to the 259 bytes the
// message's field holds; what does not fit is dropped.
Scan DecodeCc(ByteReader& r, MMS_Header* header, MMS_Custom_Data* message) {
  FieldText text;
  bool got = false;
  const Scan scan = ReadAddressText(r, kCc, &text, &got);
  if (!got) {
    return scan;
  }
  char* cc = AppendableField(&header->pszCc);
  if (cc == nullptr) {
    return Scan::kNoMemory;
  }
  const size_t used = strnlen(cc, kTextCap);
  const size_t take = std::min(text.size, kTextCap - used);
  std::memcpy(cc + used, text.bytes, take);
  std::memcpy(message->m_szCcName, cc, kTextCap + 1);
  return Scan::kOk;
}

// Every To in PDU order, joined by ","; a recipient that no longer fits
// the 259 bytes is left out whole.
Scan DecodeTo(ByteReader& r, MMS_Header* header) {
  FieldText text;
  bool got = false;
  const Scan scan = ReadAddressText(r, kTo, &text, &got);
  if (!got) {
    return scan;
  }
  const bool first = header->pszTo == nullptr;
  char* to = AppendableField(&header->pszTo);
  if (to == nullptr) {
    return Scan::kNoMemory;
  }
  size_t used = strnlen(to, kTextCap);
  const size_t extra = text.size + (used == 0 ? 0 : 1);
  if (!first && used + extra > kTextCap) {
    return Scan::kOk;
  }
  if (used > 0) {
    to[used++] = kRecipientSeparator;
  }
  std::memcpy(to + used, text.bytes, std::min(text.size, kTextCap - used));
  return Scan::kOk;
}

// Subject: an Encoded-string-value. Only the last readable one counts, so
// its view is kept and converted once, when the header ends (StoreSubject):
// a header of many Subjects costs one conversion and one block. A value in
// no readable form (a charset with no text) is stepped over and the
// earlier subject stays.
Scan ReadSubject(ByteReader& r, std::optional<EncodedString>* subject) {
  // A value of one byte holds a charset at most, never a text: refused and
  // stepped over at once, so a run of them costs little per field.
  const uint8_t* bytes = r.current();
  if (r.remaining() >= 2 && bytes[0] == 1) {
    (void)r.ReadBytes(2, &bytes);
    return Scan::kOk;
  }
  EncodedString value;
  if (!ReadEncodedString(r, &value)) {
    return SkipField(r, kSubject);
  }
  *subject = value;
  return Scan::kOk;
}

// The kept Subject converted to UTF-8 and cut back to a whole character.
bool StoreSubject(const EncodedString& value, MMS_Header* header) {
  FieldText text;
  text.size = TextToUtf8Into(value.charset, value.text, text.bytes, kTextCap);
  return ReplaceText(&header->pszSubject, text.bytes, text.size);
}

Scan DecodePlainText(ByteReader& r, uint8_t code, char** field) {
  EncodedString value;
  if (!ReadTextRule(r, &value)) {
    return SkipField(r, code);
  }
  return ReplaceText(field, value.text.current(), value.text.remaining())
             ? Scan::kOk
             : Scan::kNoMemory;
}

// Content-Type ends the header; the body starts right after its value.
Scan DecodeContentType(ByteReader& r, MMS_Header* header,
                       ContentTypeValue* type) {
  const uint8_t* at = r.current();
  if (!ReadContentType(r, type)) {
    return Scan::kTruncated;
  }
  if (at[0] == kMultipartMixedByte) {
    auto* block = static_cast<unsigned char*>(LocalAllocUnlisted(LPTR, 1));
    if (block == nullptr) {
      return Scan::kNoMemory;
    }
    block[0] = kMultipartMixedByte;
    LocalFree(header->pContentType);
    header->pContentType = block;
    return Scan::kOk;
  }
  const char* type_text = reinterpret_cast<const char*>(type->type.current());
  size_t type_size = type->type.remaining();
  if (type_size == 0 && type->type_code != kNoCode &&
      ContentTypeName(type->type_code) != nullptr) {
    type_text = ContentTypeName(type->type_code);
    type_size = std::strlen(type_text);
  }
  if ((!type->start.empty() &&
       !ReplaceText(&header->pszStart, type->start.current(),
                    type->start.remaining())) ||
      ((!type->type.empty() || type_size > 0) &&
       !ReplaceText(reinterpret_cast<char**>(&header->pContentType), type_text,
                    type_size))) {
    return Scan::kNoMemory;
  }
  return Scan::kOk;
}

Scan DecodeOctet(ByteReader& r, uint8_t code, uint8_t* octet,
                 MMS_Custom_Data* message) {
  if (!r.ReadByte(octet)) {
    return Scan::kTruncated;
  }
  if (code == kReadReport && *octet == kYes) {
    message->m_bReadReport = 1;
  }
  return Scan::kOk;
}

// One field after its code byte; a field the library does not use is
// stepped over by the form of its value.
Scan DecodeField(uint8_t code, ByteReader& r, MMS_Header* header,
                 MMS_Custom_Data* message,
                 std::optional<EncodedString>* subject) {
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
      return ReadSubject(r, subject);
    case kTo:
      return DecodeTo(r, header);
    case kMessageId:
      return DecodePlainText(r, code, &header->pszMessageId);
    case kTransactionId:
      return DecodePlainText(r, code, &header->pszTransactionId);
    case kDeliveryReport:
      return DecodeOctet(r, code, &header->byDeliveryReport, message);
    case kMessageClass: {
      uint8_t b = 0;
      if (r.PeekByte(&b) && b < 0x80) {
        return SkipField(r, code);  // a text
      }
      return DecodeOctet(r, code, &header->byMessageClass, message);
    }
    case kMessageType:
      return DecodeOctet(r, code, &header->nMsgType, message);
    case kMmsVersion:
      return DecodeOctet(r, code, &header->nMmsVersion, message);
    case kPriority:
      return DecodeOctet(r, code, &header->byPriority, message);
    case kReadReport:
      return DecodeOctet(r, code, &header->byReadReport, message);
    case kSenderVisibility:
      return DecodeOctet(r, code, &header->bySenderVisibility, message);
    default:
      return SkipField(r, code);
  }
}

// The fields up to the Content-Type; DecodeHeader's result.
int ScanFields(ByteReader& r, MMS_Header* header, MMS_Custom_Data* message,
               HeaderInfo* info, std::optional<EncodedString>* subject) {
  for (;;) {
    uint8_t b = 0;
    do {
      if (!r.ReadByte(&b)) {
        return 1;  // the header ended without a Content-Type
      }
    } while (b == 0);
    Scan scan = Scan::kOk;
    if (b >= 32 && b < 0x80) {
      // A textual header: name and value texts, neither of them used.
      r.Rewind(r.position() - 1);
      ByteReader name;
      ByteReader value;
      scan = SplitText(r, &name) && SplitText(r, &value) ? Scan::kOk
                                                         : Scan::kTruncated;
    } else if ((b & 0x7F) == kContentType) {
      scan = DecodeContentType(r, header, &info->content_type);
      if (scan == Scan::kOk) {
        info->body_offset = r.position();
        return 0;
      }
    } else {
      scan = DecodeField(b & 0x7F, r, header, message, subject);
    }
    if (scan != Scan::kOk) {
      return -1;
    }
  }
}

}  // namespace

int DecodeHeader(ByteReader& r, MMS_Header* header, MMS_Custom_Data* message,
                 HeaderInfo* info) {
  std::optional<EncodedString> subject;
  const int result = ScanFields(r, header, message, info, &subject);
  if (subject && !StoreSubject(*subject, header)) {
    return -1;
  }
  return result;
}

int DecodeMmsHeaderBounded(MMS_Header* header, const uint8_t* pdu, size_t size,
                           MMS_Custom_Data* message, int* headerLength) {
  if (header == nullptr || pdu == nullptr || message == nullptr ||
      size > static_cast<size_t>(INT_MAX)) {
    return -1;
  }
  ByteReader r(pdu, size);
  HeaderInfo info;
  if (DecodeHeader(r, header, message, &info) != 0) {
    return -1;
  }
  if (headerLength != nullptr) {
    *headerLength = static_cast<int>(info.body_offset);
  }
  return 0;
}

}  // namespace mms::codec

// The caller gives no length: a live LocalAlloc block bounds the scan by
// its size; any other pointer is trusted to end its header with a
// Content-Type, as every PDU of the message store does.
int DecodeMmsHeader(MMS_Header* header, const unsigned char* pdu,
                    MMS_Custom_Data* message, int* headerLength) {
  const size_t size =
      IsLiveBlock(pdu) ? LocalSize(const_cast<unsigned char*>(pdu)) : INT_MAX;
  return mms::codec::DecodeMmsHeaderBounded(header, pdu, size, message,
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
  if (!mms::model::DecodeUtf8(bytes, static_cast<size_t>(count), out,
                              static_cast<size_t>(count) + 1)) {
    LocalFree(out);
    return nullptr;
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
