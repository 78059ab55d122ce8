// wsp_reader.cc: the WSP value forms, read through one bounded cursor.
//
// Readers take what they were given and restore the cursor on failure, so
// a caller can try one form and then another. Nothing here allocates.
#include "codec/wsp_reader.h"

#include <strings.h>

#include <cstring>

#include "codec/text_decode.h"

namespace mms::codec {
namespace {

bool IsSixteenBit(uint32_t mib) {
  return mib == 1000 || mib == 1013 || mib == 1014 || mib == 1015;
}

// A parameter value the library keeps: Text-value, or the Short-integer
// and Long-integer forms of a number.
bool ReadTextParam(ByteReader& r, ByteReader* text) {
  return ReadTextString(r, text);
}

bool ReadCharsetValue(ByteReader& r, uint32_t* mib) {
  uint8_t first = 0;
  if (!r.PeekByte(&first)) {
    return false;
  }
  if (first == kAnyCharset) {
    *mib = 0;
    return r.Skip(1);
  }
  if (first >= kFirstTextByte && first < 0x80) {
    // A charset sent by name.
    ByteReader name;
    if (!ReadTextString(r, &name)) {
      return false;
    }
    const CharsetRow* row = FindCharsetByName(
        reinterpret_cast<const char*>(name.current()), name.remaining());
    *mib = row == nullptr ? 0 : row->mib;
    return true;
  }
  uint64_t number = 0;
  if (!ReadIntegerValue(r, &number)) {
    return false;
  }
  *mib = number > UINT32_MAX ? 0 : static_cast<uint32_t>(number);
  return true;
}

// One typed parameter (code already read) into *out.
bool ReadTypedParameter(uint8_t code, ByteReader& r, ContentTypeValue* out) {
  ByteReader skipped;
  switch (code) {
    case kParamCharset:
      return ReadCharsetValue(r, &out->charset);
    case kParamName:
    case kParamName14:
      return ReadTextParam(r, &out->name);
    case kParamFilename:
    case kParamFilename14:
      return ReadTextParam(r, &out->filename);
    case kParamStart:
    case kParamStart14:
      return ReadTextParam(r, &out->start);
    case kParamType: {
      uint8_t b = 0;
      if (r.PeekByte(&b) && b >= 0x80) {
        (void)r.ReadByte(&b);
        out->type_code = b & 0x7F;
        return true;
      }
      return ReadTextParam(r, &out->type);
    }
    case kParamQ: {
      uint32_t q = 0;
      return r.ReadUintvar(&q);
    }
    case kParamTypeInteger: {
      uint64_t n = 0;
      return ReadIntegerValue(r, &n);
    }
    default:
      return SplitWspValue(r, &skipped);
  }
}

// Untyped parameter: Token-text name, then an Integer-value or Text-value.
bool ReadUntypedParameter(ByteReader& r, ContentTypeValue* out) {
  ByteReader name;
  if (!SplitText(r, &name)) {
    return false;
  }
  uint8_t first = 0;
  if (!r.PeekByte(&first)) {
    return false;
  }
  if (first > 0 && first <= kMaxShortLength) {
    uint64_t n = 0;
    return ReadLongInteger(r, &n);
  }
  if (first >= 0x80) {
    if (TextIs(name, "charset")) {
      return ReadCharsetValue(r, &out->charset);
    }
    return r.Skip(1);
  }
  ByteReader value;
  if (TextIs(name, "charset")) {
    return ReadCharsetValue(r, &out->charset);
  }
  if (!ReadTextString(r, &value)) {
    return false;
  }
  if (TextIs(name, "name")) {
    out->name = value;
  } else if (TextIs(name, "filename")) {
    out->filename = value;
  } else if (TextIs(name, "start")) {
    out->start = value;
  } else if (TextIs(name, "type")) {
    out->type = value;
  }
  return true;
}

}  // namespace

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

bool ReadEncodedString(ByteReader& r, EncodedString* out) {
  const size_t start = r.position();
  uint8_t first = 0;
  if (!r.PeekByte(&first)) {
    return false;
  }
  if (first == 0 || first > kLengthQuote) {
    if (first == (0x80 | kCharsetUtf8)) {
      // The UTF-8 charset byte without its length, when the bytes after
      // it are not a UTF-8 text that starts with it.
      ByteReader text;
      if (ReadTextString(r, &text) &&
          !IsUtf8(text.current(), text.remaining())) {
        (void)text.Skip(1);
        out->charset = kCharsetUtf8;
        out->text = text;
        return true;
      }
      r.Rewind(start);
    }
    out->charset = 0;
    return ReadTextString(r, &out->text);
  }
  ByteReader inner;
  uint32_t mib = 0;
  if (!SplitLengthPrefixed(r, &inner) || !ReadCharsetValue(inner, &mib) ||
      inner.empty()) {
    r.Rewind(start);
    return false;
  }
  uint8_t b = 0;
  if (!IsSixteenBit(mib) && inner.PeekByte(&b) && b == kTextQuote) {
    (void)inner.Skip(1);
  }
  size_t n = inner.remaining();
  const uint8_t* bytes = inner.current();
  if (IsSixteenBit(mib)) {
    if (n % 2 == 1 && bytes[n - 1] == 0) {
      --n;
    } else if (n >= 2 && bytes[n - 1] == 0 && bytes[n - 2] == 0) {
      n -= 2;
    }
  } else {
    const void* zero = std::memchr(bytes, 0, n);
    if (zero != nullptr) {
      n = static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes);
    }
  }
  out->charset = mib;
  (void)inner.Split(n, &out->text);
  return true;
}

bool ReadParameters(ByteReader& params, ContentTypeValue* out) {
  while (!params.empty()) {
    uint8_t code = 0;
    const bool ok = ReadShortInteger(params, &code)
                        ? ReadTypedParameter(code, params, out)
                        : ReadUntypedParameter(params, out);
    if (!ok) {
      return false;
    }
  }
  return true;
}

bool ReadContentType(ByteReader& r, ContentTypeValue* out) {
  // Field by field: clearing the whole record at once costs more than the
  // rest of a part's read.
  out->code = kNoCode;
  out->text = ByteReader();
  out->charset = 0;
  out->name = ByteReader();
  out->filename = ByteReader();
  out->start = ByteReader();
  out->type = ByteReader();
  out->type_code = kNoCode;
  const size_t start = r.position();
  uint8_t first = 0;
  if (!r.PeekByte(&first)) {
    return false;
  }
  uint8_t code = 0;
  if (ReadShortInteger(r, &code)) {
    out->code = code;
    return true;
  }
  ByteReader inner;
  const bool general = first < kFirstTextByte;
  if (general && !SplitLengthPrefixed(r, &inner)) {
    return false;
  }
  ByteReader& media = general ? inner : r;
  uint64_t number = 0;
  uint8_t media_first = 0;
  if (media.PeekByte(&media_first) && media_first >= kFirstTextByte &&
      media_first < 0x80) {
    if (!ReadTextString(media, &out->text)) {
      r.Rewind(start);
      return false;
    }
    out->code =
        ContentTypeCode(reinterpret_cast<const char*>(out->text.current()),
                        out->text.remaining());
  } else if (general && ReadIntegerValue(inner, &number)) {
    out->code = number > UINT32_MAX ? kNoCode : static_cast<uint32_t>(number);
  } else {
    r.Rewind(start);
    return false;
  }
  if (general) {
    (void)ReadParameters(inner, out);
  }
  return true;
}

std::string MediaTypeText(const ContentTypeValue& type) {
  std::string text;
  if (type.code != kNoCode && ContentTypeName(type.code) != nullptr) {
    text = ContentTypeName(type.code);
  } else {
    text = TextOf(type.text);
  }
  for (char& c : text) {
    c = AsciiLower(c);
  }
  return text;
}

bool ReadHeaderName(ByteReader& r, uint32_t* code, ByteReader* name) {
  uint8_t b = 0;
  if (ReadShortInteger(r, &b)) {
    *code = b;
    return true;
  }
  if (!r.PeekByte(&b) || b < kFirstTextByte) {
    return false;
  }
  *code = kNoCode;
  return SplitText(r, name);
}

bool TextIs(const ByteReader& text, std::string_view literal) {
  return text.remaining() == literal.size() &&
         strncasecmp(reinterpret_cast<const char*>(text.current()),
                     literal.data(), literal.size()) == 0;
}

std::string TextOf(const ByteReader& text) {
  return std::string(reinterpret_cast<const char*>(text.current()),
                     text.remaining());
}

}  // namespace mms::codec
