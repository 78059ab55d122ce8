// header_fields.h: splits an MMS header block into whole fields without
// acting on them, for the tools that must see every field of any PDU.
//
// Each field comes out as its code, its row of the one header table, its
// offset and its value bytes exactly as on the wire; the extent of a value
// follows from the row's ValueKind and the WSP value forms. The library's
// own decoders keep their forgiving scanners; this is the strict walk.
#ifndef MMS_CODEC_HEADER_FIELDS_H_
#define MMS_CODEC_HEADER_FIELDS_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_reader.h"
#include "codec/header_table.h"

namespace mms::codec {

struct HeaderField {
  size_t offset = 0;               // of the field's first byte, in the reader
  uint8_t code = 0;                // 7-bit field code; 0 for an application
                                   // header (a Token-text name)
  const HeaderRow* row = nullptr;  // null for a code no version assigns
  ByteReader name;                 // application header name, without its 0
  ByteReader value;                // the whole value as on the wire: length
                                   // prefix and terminating 0 included
};

enum class FieldStep {
  kField,      // *field is filled, the reader moved past it
  kEnd,        // nothing left to read
  kTruncated,  // the field runs past the end; the reader did not move
  kBadByte,    // a byte 0..31 where a field must begin; the reader did not
               // move
};

// Reads the field at the cursor. Content-Type ends a header block that a
// body follows; a PDU without a body simply ends.
[[nodiscard]] FieldStep NextHeaderField(ByteReader& r, HeaderField* field);

// Splits off one WSP value at the cursor by its first byte: 0..30 a
// Short-length and that many bytes, 31 a uintvar length and that many
// bytes, 32..127 a text up to and including its 0, 128 and up that byte
// alone. *value covers all of it.
[[nodiscard]] bool SplitWspValue(ByteReader& r, ByteReader* value);

// Splits off a text up to and including its 0; *text gets the bytes before
// the 0.
[[nodiscard]] bool SplitText(ByteReader& r, ByteReader* text);

// Readers of one whole value as NextHeaderField gives it.
//
// Text-string (a leading quote byte 127 dropped) or Quoted-string (34
// dropped): *text without the 0.
[[nodiscard]] bool ReadTextValue(ByteReader value, ByteReader* text);
// Encoded-string-value: *charset 0 for a plain Text-string, else the
// MIBenum (Short- or Long-integer); *text without the 0.
[[nodiscard]] bool ReadEncodedStringValue(ByteReader value, uint32_t* charset,
                                          ByteReader* text);
// Value-length form: *inner gets the bytes the length covers.
[[nodiscard]] bool ReadLengthPrefixedValue(ByteReader value, ByteReader* inner);
// Integer-value: Short-integer, or Long-integer of up to eight bytes.
[[nodiscard]] bool ReadIntegerValue(ByteReader& r, uint64_t* number);

}  // namespace mms::codec

#endif  // MMS_CODEC_HEADER_FIELDS_H_
