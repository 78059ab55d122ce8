// header_fields.h: splits an MMS header block into whole fields without
// acting on them, for the tools that must see every field of any PDU.
//
// Each field comes out as its code, its row of the one header table, its
// offset and its value bytes exactly as on the wire; the extent of a value
// follows from the row's ValueKind and the WSP value forms (wsp_reader.h).
#ifndef MMS_CODEC_HEADER_FIELDS_H_
#define MMS_CODEC_HEADER_FIELDS_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_reader.h"
#include "codec/header_table.h"
#include "codec/wsp_reader.h"

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

// Splits off the value of a field of the given kind at the cursor.
[[nodiscard]] bool SplitFieldValue(ByteReader& r, ValueKind kind,
                                   ByteReader* value);

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

}  // namespace mms::codec

#endif  // MMS_CODEC_HEADER_FIELDS_H_
