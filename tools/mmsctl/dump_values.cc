// dump_values.cc: formatting of single values for `mmsctl dump`.
#include "tools/mmsctl/dump_values.h"

#include <cstdio>
#include <ctime>

#include "codec/header_table.h"
#include "tools/mmsctl/dump_names.h"

namespace mmsctl::dump {
namespace {

namespace codec = mms::codec;
using codec::HeaderField;
using codec::ValueKind;

constexpr size_t kHexPreview = 24;
constexpr uint8_t kCharsetParam = codec::kParamCharset;

std::string DateText(uint64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc = {};
  char text[32];
  if (gmtime_r(&t, &utc) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc) == 0) {
    return "?";
  }
  return text;
}

std::string CharsetText(uint32_t mib) {
  const char* name = CharsetName(mib);
  return name != nullptr ? name : "MIBenum " + Number(mib);
}

std::string EncodedString(const ByteReader& value) {
  uint32_t charset = 0;
  ByteReader text;
  if (!codec::ReadEncodedStringValue(value, &charset, &text)) {
    return Unreadable(value);
  }
  if (charset == 0) {
    return Quoted(text, false);
  }
  return Quoted(text, charset == codec::kCharsetUtf8) + " (charset " +
         CharsetText(charset) + ")";
}

// Media type of a Content-type-value: a well-known name or the text.
bool MediaOf(ByteReader value, std::string* media, ByteReader* params) {
  uint8_t first = 0;
  if (!value.PeekByte(&first)) {
    return false;
  }
  ByteReader inner = value;
  if (first <= 31 && !codec::ReadLengthPrefixedValue(value, &inner)) {
    return false;
  }
  uint8_t lead = 0;
  if (!inner.PeekByte(&lead)) {
    return false;
  }
  if (lead >= 32 && lead < 0x80) {
    ByteReader text;
    if (!codec::SplitText(inner, &text)) {
      return false;
    }
    *media = std::string(reinterpret_cast<const char*>(text.current()),
                         text.remaining());
  } else {
    uint64_t code = 0;
    if (!codec::ReadIntegerValue(inner, &code)) {
      return false;
    }
    const char* name = code <= UINT32_MAX
                           ? ContentTypeName(static_cast<uint32_t>(code))
                           : nullptr;
    *media = name != nullptr ? name : "content type " + Hex(code);
  }
  *params = inner;
  return true;
}

std::string Parameters(ByteReader params) {
  std::string out;
  while (!params.empty()) {
    uint8_t first = 0;
    std::string name;
    if (!params.PeekByte(&first)) {
      break;
    }
    if (first >= 0x80) {
      const uint8_t code = first & 0x7F;
      const char* known = ParameterName(code);
      name = known != nullptr ? known : "parameter " + Hex(code);
      if (!params.Skip(1)) {
        break;
      }
    } else {
      ByteReader token;
      if (!codec::SplitText(params, &token)) {
        return out + "; unreadable: " + HexOf(params);
      }
      name = std::string(reinterpret_cast<const char*>(token.current()),
                         token.remaining());
    }
    ByteReader value;
    if (!codec::SplitWspValue(params, &value)) {
      return out + "; " + name + "=unreadable: " + HexOf(params);
    }
    ByteReader copy = value;
    uint64_t mib = 0;
    if (first == (0x80 | kCharsetParam) &&
        codec::ReadIntegerValue(copy, &mib) && copy.empty() &&
        mib <= UINT32_MAX) {
      out += "; " + name + "=" + CharsetText(static_cast<uint32_t>(mib));
    } else {
      out += "; " + name + "=" + GenericValue(value);
    }
  }
  return out;
}

std::string OctetValue(uint8_t code, uint8_t b) {
  const std::string hex = Hex(b);
  if (code == codec::kMmsVersion) {
    return Number((b >> 4) & 0x07) + "." + Number(b & 0x0F) + " (" + hex + ")";
  }
  const char* name = HeaderValueName(code, b);
  return name != nullptr ? std::string(name) + " (" + hex + ")" : hex;
}

std::string TimeValue(const ByteReader& value) {
  ByteReader inner;
  uint8_t token = 0;
  uint64_t n = 0;
  if (!codec::ReadLengthPrefixedValue(value, &inner) ||
      !inner.ReadByte(&token) || !codec::ReadIntegerValue(inner, &n)) {
    return Unreadable(value);
  }
  if (token == codec::kAbsoluteToken) {
    return "absolute " + Number(n) + " (" + DateText(n) + ")";
  }
  return "relative " + Number(n) + " seconds";
}

std::string FromValue(const ByteReader& value) {
  ByteReader inner;
  uint8_t token = 0;
  if (!codec::ReadLengthPrefixedValue(value, &inner) ||
      !inner.ReadByte(&token)) {
    return Unreadable(value);
  }
  if (token == codec::kInsertAddressToken) {
    return "Insert-address-token (the centre fills in the sender)";
  }
  return EncodedString(inner);
}

}  // namespace

std::string HexOf(ByteReader bytes) {
  std::string out;
  uint8_t b = 0;
  size_t shown = 0;
  char part[4];
  while (shown < kHexPreview && bytes.ReadByte(&b)) {
    std::snprintf(part, sizeof part, shown == 0 ? "%02x" : " %02x", b);
    out += part;
    ++shown;
  }
  if (!bytes.empty()) {
    out += " ...";
  }
  return out;
}

std::string Escaped(ByteReader text, bool utf8) {
  std::string out;
  uint8_t c = 0;
  uint8_t previous = 0;
  char hex[16];
  while (text.ReadByte(&c)) {
    // 0xC2 0x80..0x9F is a C1 control: its lead byte is held back a step.
    const bool c1_lead = utf8 && c == 0xC2;
    if (previous == 0xC2) {
      if (c >= 0x80 && c <= 0x9F) {
        std::snprintf(hex, sizeof hex, "\\x%02x\\x%02x", previous, c);
        out += hex;
        previous = 0;
        continue;
      }
      out += static_cast<char>(previous);
    }
    previous = c1_lead ? c : 0;
    if (c1_lead) {
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if ((c >= 32 && c < 127) || (utf8 && c >= 128)) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (previous == 0xC2) {
    out += static_cast<char>(previous);
  }
  return out;
}

std::string Escaped(const std::string& utf8) {
  return Escaped(
      ByteReader(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()),
      true);
}

std::string Quoted(const ByteReader& text, bool utf8) {
  return "\"" + Escaped(text, utf8) + "\"";
}

std::string Hex(uint64_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%02llx",
                static_cast<unsigned long long>(n));
  return text;
}

std::string Offset(size_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%04zx", n);
  return text;
}

std::string Number(uint64_t n) { return std::to_string(n); }

std::string Unreadable(const ByteReader& value) {
  return "unreadable value: " + HexOf(value);
}

std::string GenericValue(ByteReader value) {
  uint8_t first = 0;
  if (!value.PeekByte(&first)) {
    return "(empty)";
  }
  ByteReader copy = value;
  uint64_t n = 0;
  if ((first >= 0x80 || first <= 8) && codec::ReadIntegerValue(copy, &n) &&
      copy.empty()) {
    return Number(n);
  }
  ByteReader text;
  if (first >= 32 && first < 0x80 && codec::ReadTextValue(value, &text)) {
    return Quoted(text, true);
  }
  return HexOf(value);
}

std::string ContentType(const ByteReader& value, std::string* media) {
  ByteReader params;
  if (!MediaOf(value, media, &params)) {
    return Unreadable(value);
  }
  return *media + Parameters(params);
}

std::string FieldValue(const HeaderField& f, std::string* media) {
  ByteReader v = f.value;
  uint8_t first = 0;
  if (!v.PeekByte(&first)) {
    return "(empty)";
  }
  uint64_t n = 0;
  ByteReader text;
  switch (f.row->kind) {
    case ValueKind::kOctet:
      return OctetValue(f.code, first);
    case ValueKind::kText:
      return codec::ReadTextValue(v, &text) ? Quoted(text, true)
                                            : Unreadable(v);
    case ValueKind::kEncodedString:
      return EncodedString(v);
    case ValueKind::kLongInteger:
    case ValueKind::kInteger:
      if (!codec::ReadIntegerValue(v, &n)) {
        return Unreadable(f.value);
      }
      return f.code == codec::kDate ? Number(n) + " (" + DateText(n) + ")"
                                    : Number(n);
    case ValueKind::kTime:
      return TimeValue(v);
    case ValueKind::kFrom:
      return FromValue(v);
    case ValueKind::kClass:
      return first >= 0x80 ? OctetValue(f.code, first) : GenericValue(v);
    case ValueKind::kContentType:
      return ContentType(v, media);
    case ValueKind::kBody:
      return Number(v.remaining()) + " bytes";
    case ValueKind::kLengthPrefixed:
      break;
  }
  return Number(v.remaining()) + " bytes: " + HexOf(v);
}

// The WSP headers of an entry or a push, each on its own line.

}  // namespace mmsctl::dump
