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

// Splits off one WSP value by its first byte (table above); *value covers
// all of it, length prefix and 0 included.
[[nodiscard]] bool SplitWspValue(ByteReader& r, ByteReader* value);

// Splits off a text up to and including its 0; *text gets the bytes before
// the 0.
[[nodiscard]] bool SplitText(ByteReader& r, ByteReader* text);

// Short-integer: a byte of 128 or more; *value its low 7 bits.
[[nodiscard]] bool ReadShortInteger(ByteReader& r, uint8_t* value);

// Long-integer: Short-length 1..8, then the big-endian bytes.
[[nodiscard]] bool ReadLongInteger(ByteReader& r, uint64_t* number);

// Integer-value: Short-integer or Long-integer.
[[nodiscard]] bool ReadIntegerValue(ByteReader& r, uint64_t* number);

// Value-length: 0..30, or 31 and a uintvar. Only the length is read.
[[nodiscard]] bool ReadValueLength(ByteReader& r, uint32_t* length);

// Value-length and the bytes it covers, as a child reader.
[[nodiscard]] bool SplitLengthPrefixed(ByteReader& r, ByteReader* inner);

// Text-string (a leading quote 127 dropped), Quoted-string (34 dropped) or
// No-value (a lone 0): *text without the 0.
[[nodiscard]] bool ReadTextString(ByteReader& r, ByteReader* text);

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
// (the ones before it are kept).
bool ReadParameters(ByteReader params, ContentTypeValue* out);

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

}  // namespace mms::codec

#endif  // MMS_CODEC_WSP_READER_H_
