// wsp_reader.h: the one reader of the WSP value forms, over a ByteReader.
//
// Every decoder of the library and of its tools reads WSP values through
// these functions. Each is bounded by the reader it is given; a read that
// fails returns false and leaves the reader where it was.
//
//   first byte  form
//   0..30       Short-length n, then n bytes (Long-integer, Value-length)
//   31          Length-quote, uintvar n, then n bytes
//   32..127     a text up to its 0 (127 quotes a text starting >= 128;
//               34 starts a Quoted-string)
//   128..255    Short-integer (the value with bit 7 set)
#ifndef MMS_CODEC_WSP_READER_H_
#define MMS_CODEC_WSP_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/byte_reader.h"
#include "codec/header_table.h"

namespace mms::codec {

constexpr size_t kMaxLongIntegerBytes = 8;

// Splits off one WSP value by its first byte (table above); *value covers
// all of it, length prefix and 0 included.
[[nodiscard]] bool SplitWspValue(ByteReader& r, ByteReader* value);

// Splits off a text up to and including its 0; *text gets the bytes before
// the 0.
[[nodiscard]] inline bool SplitText(ByteReader& r, ByteReader* text);

// Short-integer: a byte of 128 or more; *value its low 7 bits.
[[nodiscard]] inline bool ReadShortInteger(ByteReader& r, uint8_t* value);

// Long-integer: Short-length 1..8, then the big-endian bytes.
[[nodiscard]] inline bool ReadLongInteger(ByteReader& r, uint64_t* number);

// Integer-value: Short-integer or Long-integer.
[[nodiscard]] inline bool ReadIntegerValue(ByteReader& r, uint64_t* number);

// Value-length: 0..30, or 31 and a uintvar. Only the length is read.
[[nodiscard]] inline bool ReadValueLength(ByteReader& r, uint32_t* length);

// Value-length and the bytes it covers, as a child reader.
[[nodiscard]] inline bool SplitLengthPrefixed(ByteReader& r, ByteReader* inner);

// Text-string (a leading quote 127 dropped), Quoted-string (34 dropped) or
// No-value (a lone 0): *text without the 0.
[[nodiscard]] inline bool ReadTextString(ByteReader& r, ByteReader* text);

// Encoded-string-value: a Text-string (*charset 0), or Value-length,
// Char-set (Short- or Long-integer; Any-charset 128 gives 0) and a text.
// In the second form the text is every byte the length covers but the
// trailing 0 (two for a 16-bit charset). A charset with no text at all is
// refused. A charset byte sent without its length (the UTF-8 byte 234
// before a text that is not UTF-8 with it) is taken as that charset.
struct EncodedString {
  uint32_t charset = 0;  // MIBenum; 0 for none given
  ByteReader text;
};
[[nodiscard]] bool ReadEncodedString(ByteReader& r, EncodedString* out);

// Content-type value, constrained (Short-integer or text) or general
// (Value-length, media type, parameters). The parameters the library uses
// are kept; every other parameter is stepped over by its form. *out is
// reset first, also when the read fails.
// ReadContentType resets every field: one added here is reset there too.
struct ContentTypeValue {
  uint32_t code = kNoCode;       // well-known media type, else kNoCode
  ByteReader text;               // the media type as text when code is kNoCode
  uint32_t charset = 0;          // Charset parameter (MIBenum), 0 when absent
  ByteReader name;               // Name parameter
  ByteReader filename;           // Filename parameter
  ByteReader start;              // Start parameter
  ByteReader type;               // multipart/related Type parameter, as text
  uint32_t type_code = kNoCode;  // the same when given as a Short-integer
};
[[nodiscard]] bool ReadContentType(ByteReader& r, ContentTypeValue* out);

// The parameters of a general-form value (content type or disposition)
// into *out; unknown ones are stepped over. False when one is cut short
// (the ones before it are kept). params is read to its end, in place: a
// copy of a reader just written would wait for the writes to land.
bool ReadParameters(ByteReader& params, ContentTypeValue* out);

// The media type in lower case ("image/jpeg"); "" when unknown.
std::string MediaTypeText(const ContentTypeValue& type);

// A header name: a well-known Short-integer code (*code, 7 bits) or a
// Token-text (*code kNoCode, *name without its 0).
[[nodiscard]] bool ReadHeaderName(ByteReader& r, uint32_t* code,
                                  ByteReader* name);

// Case-insensitive comparison of a text with a literal.
bool TextIs(const ByteReader& text, std::string_view literal);

// The bytes of a reader's remaining span as a string.
std::string TextOf(const ByteReader& text);

// The small readers below are called for nearly every byte of a header;
// they are defined here so that the compiler can keep a reader in
// registers across them.
// Readers of several steps rewind on failure themselves: a shared wrapper
// over a lambda measured as fast but was no shorter and hid the steps.

inline bool SplitText(ByteReader& r, ByteReader* text) {
  size_t zero = 0;
  if (!r.Find(0, &zero)) {
    return false;
  }
  return r.Split(zero, text) && r.Skip(1);
}

inline bool ReadShortInteger(ByteReader& r, uint8_t* value) {
  uint8_t b = 0;
  if (!r.PeekByte(&b) || b < 0x80) {
    return false;
  }
  (void)r.Skip(1);
  *value = b & 0x7F;
  return true;
}

inline bool ReadLongInteger(ByteReader& r, uint64_t* number) {
  const size_t start = r.position();
  uint8_t n = 0;
  const uint8_t* bytes = nullptr;
  if (!r.ReadByte(&n) || n == 0 || n > kMaxLongIntegerBytes ||
      !r.ReadBytes(n, &bytes)) {
    r.Rewind(start);
    return false;
  }
  uint64_t value = 0;
  for (uint8_t i = 0; i < n; ++i) {
    value = value << 8 | bytes[i];
  }
  *number = value;
  return true;
}

inline bool ReadIntegerValue(ByteReader& r, uint64_t* number) {
  uint8_t b = 0;
  if (ReadShortInteger(r, &b)) {
    *number = b;
    return true;
  }
  return ReadLongInteger(r, number);
}

inline bool ReadValueLength(ByteReader& r, uint32_t* length) {
  const size_t start = r.position();
  uint8_t first = 0;
  if (!r.ReadByte(&first) || first > kLengthQuote) {
    r.Rewind(start);
    return false;
  }
  if (first < kLengthQuote) {
    *length = first;
    return true;
  }
  if (!r.ReadUintvar(length)) {
    r.Rewind(start);
    return false;
  }
  return true;
}

inline bool SplitLengthPrefixed(ByteReader& r, ByteReader* inner) {
  const size_t start = r.position();
  uint32_t length = 0;
  if (!ReadValueLength(r, &length) || !r.Split(length, inner)) {
    r.Rewind(start);
    return false;
  }
  return true;
}

inline bool ReadTextString(ByteReader& r, ByteReader* text) {
  const size_t start = r.position();
  uint8_t first = 0;
  if (r.PeekByte(&first) && (first == kTextQuote || first == kStringQuote)) {
    (void)r.Skip(1);
  }
  if (!SplitText(r, text)) {
    r.Rewind(start);
    return false;
  }
  return true;
}

}  // namespace mms::codec

#endif  // MMS_CODEC_WSP_READER_H_
