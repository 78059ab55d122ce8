// header_fields.cc: the strict field walk over an MMS header block.
//
// Only three value kinds need a rule of their own: an Octet is one byte
// whatever its value, a Text runs to its 0 also when it starts below 32,
// and Content (the body) runs to the end. Every other kind is a WSP value
// whose first byte says how far it reaches.
#include "codec/header_fields.h"

namespace mms::codec {
namespace {

constexpr uint8_t kMaxShortLength = 30;
constexpr uint8_t kLengthQuote = 31;
constexpr uint8_t kFirstTextByte = 32;
constexpr uint8_t kTextQuote = 127;   // Text-string quote before bytes >= 128
constexpr uint8_t kStringQuote = 34;  // Quoted-string lead byte
constexpr size_t kMaxLongIntegerBytes = 8;

bool SplitByKind(ByteReader& r, ValueKind kind, ByteReader* value) {
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

}  // namespace

bool SplitText(ByteReader& r, ByteReader* text) {
  const size_t start = r.position();
  uint8_t b = 0;
  while (r.ReadByte(&b)) {
    if (b == 0) {
      const size_t length = r.position() - 1 - start;
      r.Rewind(start);
      const bool ok = r.Split(length, text) && r.Skip(1);
      return ok;
    }
  }
  r.Rewind(start);
  return false;
}

bool SplitWspValue(ByteReader& r, ByteReader* value) {
  const size_t start = r.position();
  uint8_t first = 0;
  if (!r.ReadByte(&first)) {
    return false;
  }
  bool ok = true;
  if (first <= kMaxShortLength) {
    ok = r.Skip(first);
  } else if (first == kLengthQuote) {
    uint32_t length = 0;
    ok = r.ReadUintvar(&length) && r.Skip(length);
  } else if (first < 0x80) {
    r.Rewind(start);
    ByteReader text;
    ok = SplitText(r, &text);
  }
  if (!ok) {
    r.Rewind(start);
    return false;
  }
  const size_t end = r.position();
  r.Rewind(start);
  return r.Split(end - start, value);
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
    ok = SplitText(r, &f.name) && SplitByKind(r, ValueKind::kText, &f.value);
  } else {
    f.code = first & 0x7F;
    f.row = FindHeader(f.code);
    const ValueKind kind =
        f.row == nullptr ? ValueKind::kLengthPrefixed : f.row->kind;
    ok = r.Skip(1) && SplitByKind(r, kind, &f.value);
  }
  if (!ok) {
    r.Rewind(start);
    return FieldStep::kTruncated;
  }
  *field = f;
  return FieldStep::kField;
}

bool ReadTextValue(ByteReader value, ByteReader* text) {
  uint8_t first = 0;
  if (value.PeekByte(&first) &&
      (first == kTextQuote || first == kStringQuote)) {
    if (!value.Skip(1)) {
      return false;
    }
  }
  return SplitText(value, text);
}

bool ReadIntegerValue(ByteReader& r, uint64_t* number) {
  const size_t start = r.position();
  uint8_t first = 0;
  if (!r.ReadByte(&first)) {
    return false;
  }
  if (first >= 0x80) {
    *number = first & 0x7F;
    return true;
  }
  const uint8_t* bytes = nullptr;
  if (first == 0 || first > kMaxLongIntegerBytes ||
      !r.ReadBytes(first, &bytes)) {
    r.Rewind(start);
    return false;
  }
  uint64_t n = 0;
  for (uint8_t i = 0; i < first; ++i) {
    n = n << 8 | bytes[i];
  }
  *number = n;
  return true;
}

bool ReadLengthPrefixedValue(ByteReader value, ByteReader* inner) {
  uint8_t first = 0;
  uint32_t length = 0;
  if (!value.ReadByte(&first) || first > kLengthQuote) {
    return false;
  }
  length = first;
  if (first == kLengthQuote && !value.ReadUintvar(&length)) {
    return false;
  }
  return value.Split(length, inner);
}

bool ReadEncodedStringValue(ByteReader value, uint32_t* charset,
                            ByteReader* text) {
  uint8_t first = 0;
  if (!value.PeekByte(&first)) {
    return false;
  }
  // A lone 0 is an empty Text-string, not an empty length.
  if (first == 0 || first > kLengthQuote) {
    *charset = 0;
    return ReadTextValue(value, text);
  }
  ByteReader inner;
  if (!ReadLengthPrefixedValue(value, &inner)) {
    return false;
  }
  uint64_t mib = 0;
  if (!ReadIntegerValue(inner, &mib) || mib > UINT32_MAX) {
    return false;
  }
  *charset = static_cast<uint32_t>(mib);
  return ReadTextValue(inner, text);
}

}  // namespace mms::codec
