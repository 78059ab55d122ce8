// header_fields.cc: the strict field walk over an MMS header block.
//
// Only three value kinds need a rule of their own: an Octet is one byte
// whatever its value, a Text runs to its 0 also when it starts below 32,
// and Content (the body) runs to the end. Every other kind is a WSP value
// whose first byte says how far it reaches.
#include "codec/header_fields.h"

namespace mms::codec {

bool SplitFieldValue(ByteReader& r, ValueKind kind, ByteReader* value) {
  switch (kind) {
    case ValueKind::kOctet:
      return r.Split(1, value);
    case ValueKind::kText: {
      const size_t start = r.position();
      ByteReader text;
      if (!SplitText(r, &text)) {
        return false;
      }
      const size_t end = r.position();
      r.Rewind(start);
      return r.Split(end - start, value);
    }
    case ValueKind::kBody:
      return r.Split(r.remaining(), value);
    default:
      return SplitWspValue(r, value);
  }
}

FieldStep NextHeaderField(ByteReader& r, HeaderField* field) {
  const size_t start = r.position();
  uint8_t first = 0;
  if (!r.PeekByte(&first)) {
    return FieldStep::kEnd;
  }
  HeaderField f;
  f.offset = start;
  if (first < kFirstTextByte) {
    return FieldStep::kBadByte;
  }
  bool ok = true;
  if (first < 0x80) {
    // Application-header: Token-text name, then a Text-string value.
    ok =
        SplitText(r, &f.name) && SplitFieldValue(r, ValueKind::kText, &f.value);
  } else {
    f.code = first & 0x7F;
    f.row = FindHeader(f.code);
    const ValueKind kind =
        f.row == nullptr ? ValueKind::kLengthPrefixed : f.row->kind;
    ok = r.Skip(1) && SplitFieldValue(r, kind, &f.value);
  }
  if (!ok) {
    r.Rewind(start);
    return FieldStep::kTruncated;
  }
  *field = f;
  return FieldStep::kField;
}

bool ReadTextValue(ByteReader value, ByteReader* text) {
  return ReadTextString(value, text);
}

bool ReadLengthPrefixedValue(ByteReader value, ByteReader* inner) {
  return SplitLengthPrefixed(value, inner);
}

bool ReadEncodedStringValue(ByteReader value, uint32_t* charset,
                            ByteReader* text) {
  EncodedString s;
  if (!ReadEncodedString(value, &s)) {
    return false;
  }
  *charset = s.charset;
  *text = s.text;
  return true;
}

}  // namespace mms::codec
