// cmd_dump.cc: `mmsctl dump`: every header field of any MMS PDU with its
// offset and value, then each multipart entry.
//
// Fields are split by the codec's strict walk (codec/header_fields.h) and
// named from its one header table; everything is read through ByteReader,
// so a short or damaged file prints what it can and says where it ended.
// A whole WSP Push PDU (as pushed to a device) is unwrapped first.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/byte_reader.h"
#include "codec/header_fields.h"
#include "codec/header_table.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/dump_names.h"

namespace mmsctl {
namespace {

namespace codec = mms::codec;
using codec::ByteReader;
using codec::FieldStep;
using codec::HeaderField;
using codec::ValueKind;

constexpr char kName[] = "dump";
constexpr uint8_t kMessageTypeByte = 0x80 | codec::kMessageType;
constexpr uint8_t kPushType = 0x06;
constexpr uint8_t kConfirmedPushType = 0x07;
constexpr uint8_t kCharsetParam = codec::kParamCharset;
constexpr uint8_t kWspContentLocation = codec::kWspContentLocation;
constexpr uint8_t kWspContentId = codec::kWspContentId;
constexpr size_t kHexPreview = 24;

// Where a dump stopped early; empty while everything was read.
struct Stop {
  std::string what;
  size_t offset = 0;
};

void Line(size_t offset, const std::string& label, const std::string& value,
          int indent = 0) {
  std::printf("%*s0x%04zx  %-*s %s\n", indent, "", offset, 28 - indent,
              label.c_str(), value.c_str());
}

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

// The text in double quotes; bytes a terminal would not show as they are
// become \xNN (bytes of 128 and up stay when the text is UTF-8).
std::string Escaped(ByteReader text, bool utf8) {
  std::string out;
  uint8_t c = 0;
  char hex[8];
  while (text.ReadByte(&c)) {
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
  return out;
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

std::string Number(uint64_t n) { return std::to_string(n); }

std::string Unreadable(const ByteReader& value) {
  return "unreadable value: " + HexOf(value);
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

// Any WSP value by its first byte: integer, text or raw bytes.
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

std::string ContentType(const ByteReader& value, std::string* media) {
  ByteReader params;
  if (!MediaOf(value, media, &params)) {
    return Unreadable(value);
  }
  return *media + Parameters(params);
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
void WspHeaders(ByteReader headers, size_t base, int indent) {
  while (!headers.empty()) {
    const size_t at = base + headers.position();
    uint8_t first = 0;
    if (!headers.PeekByte(&first)) {
      return;
    }
    ByteReader value;
    if (first >= 0x80) {
      const uint8_t code = first & 0x7F;
      const char* known = WspHeaderName(code);
      if (!headers.Skip(1) || !codec::SplitWspValue(headers, &value)) {
        Line(at, known != nullptr ? known : "header", Unreadable(headers),
             indent);
        return;
      }
      std::string shown;
      ByteReader text;
      if ((code == kWspContentLocation || code == kWspContentId) &&
          codec::ReadTextValue(value, &text)) {
        shown = Quoted(text, true);
      } else {
        shown = GenericValue(value);
      }
      Line(at, known != nullptr ? known : "header " + Hex(code), shown, indent);
    } else if (first >= 32) {
      ByteReader name;
      ByteReader text;
      if (!codec::SplitText(headers, &name) ||
          !codec::SplitText(headers, &text)) {
        Line(at, "header", Unreadable(headers), indent);
        return;
      }
      Line(at, Escaped(name, true), Quoted(text, true), indent);
    } else {
      Line(at, "header bytes", Unreadable(headers), indent);
      return;
    }
  }
}

bool IsMultipart(const std::string& media) {
  return media.rfind("multipart/", 0) == 0 ||
         media.rfind("application/vnd.wap.multipart.", 0) == 0;
}

bool Entries(ByteReader& r, Stop* stop) {
  const size_t count_at = r.position();
  uint32_t count = 0;
  if (!r.ReadUintvar(&count)) {
    *stop = {"the entry count", count_at};
    return false;
  }
  Line(count_at, "(multipart body)", Number(count) + " entries");
  for (uint32_t k = 1; k <= count; ++k) {
    const std::string entry = "entry " + Number(k);
    const size_t at = r.position();
    uint32_t header_length = 0;
    uint32_t data_length = 0;
    if (!r.ReadUintvar(&header_length) || !r.ReadUintvar(&data_length)) {
      *stop = {"the lengths of " + entry, at};
      return false;
    }
    const size_t headers_at = r.position();
    Line(at, "(" + entry + ")",
         "headers " + Number(header_length) + " bytes at " +
             Offset(headers_at) + ", data " + Number(data_length) +
             " bytes at " + Offset(headers_at + header_length));
    ByteReader headers;
    if (!r.Split(header_length, &headers)) {
      *stop = {"the headers of " + entry, headers_at};
      return false;
    }
    ByteReader type;
    std::string media;
    if (codec::SplitWspValue(headers, &type)) {
      Line(headers_at, "Content-Type", ContentType(type, &media), 2);
      WspHeaders(ByteReader(headers.current(), headers.remaining()),
                 headers_at + headers.position(), 2);
    } else {
      Line(headers_at, "Content-Type", Unreadable(headers), 2);
    }
    const size_t data_at = r.position();
    if (!r.Skip(data_length)) {
      *stop = {"the data of " + entry, data_at};
      return false;
    }
  }
  if (!r.empty()) {
    Line(r.position(), "(after the entries)",
         Number(r.remaining()) +
             " bytes: " + HexOf(ByteReader(r.current(), r.remaining())));
  }
  return true;
}

bool AllZero(ByteReader r) {
  uint8_t b = 0;
  while (r.ReadByte(&b)) {
    if (b != 0) {
      return false;
    }
  }
  return true;
}

// The MMS PDU at the cursor, headers then body.
bool Pdu(ByteReader& r, Stop* stop) {
  std::string media;
  for (;;) {
    HeaderField f;
    const FieldStep step = codec::NextHeaderField(r, &f);
    if (step == FieldStep::kEnd) {
      return true;
    }
    if (step == FieldStep::kBadByte) {
      if (AllZero(ByteReader(r.current(), r.remaining()))) {
        Line(r.position(), "(padding)", Number(r.remaining()) + " zero bytes");
        return true;
      }
      *stop = {"a byte that begins no field", r.position()};
      return false;
    }
    if (step == FieldStep::kTruncated) {
      uint8_t b = 0;
      const char* name =
          r.PeekByte(&b) && b >= 0x80 ? codec::HeaderName(b) : nullptr;
      *stop = {name != nullptr ? std::string("the ") + name + " field"
                               : std::string("the field"),
               r.position()};
      return false;
    }
    if (f.code == 0) {
      Line(f.offset, Quoted(f.name, true) + " (application)",
           GenericValue(f.value));
    } else if (f.row == nullptr) {
      Line(f.offset, "unassigned field " + Hex(f.code), HexOf(f.value));
    } else {
      Line(f.offset, f.row->name, FieldValue(f, &media));
    }
    if (f.code == codec::kContentType) {
      break;
    }
  }
  if (r.empty()) {
    return true;
  }
  if (!IsMultipart(media)) {
    Line(r.position(), "(body)", Number(r.remaining()) + " bytes");
    return true;
  }
  return Entries(r, stop);
}

bool Push(ByteReader& r, Stop* stop) {
  uint8_t tid = 0;
  uint8_t type = 0;
  uint32_t header_length = 0;
  ByteReader headers;
  if (!r.ReadByte(&tid) || !r.ReadByte(&type) ||
      !r.ReadUintvar(&header_length)) {
    *stop = {"the WSP push header", 0};
    return false;
  }
  Line(0, "(WSP push)",
       std::string(type == kPushType ? "Push" : "ConfirmedPush") + ", TID " +
           Number(tid) + ", headers " + Number(header_length) + " bytes");
  const size_t headers_at = r.position();
  ByteReader type_value;
  if (!r.Split(header_length, &headers) ||
      !codec::SplitWspValue(headers, &type_value)) {
    *stop = {"the WSP push headers", headers_at};
    return false;
  }
  std::string media;
  Line(headers_at, "Content-Type", ContentType(type_value, &media));
  WspHeaders(ByteReader(headers.current(), headers.remaining()),
             headers_at + headers.position(), 0);
  return Pdu(r, stop);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes,
              std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = std::strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>());
  if (in.bad()) {
    *why = "read error";
    return false;
  }
  return true;
}

// 0 when the file was read whole, else 1 (reported on stderr).
int DumpFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadFile(path, &bytes, &why)) {
    return Fail(kName, "cannot read '" + path + "': " + why);
  }
  std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
  ByteReader r(bytes.data(), bytes.size());
  Stop stop;
  bool whole = false;
  if (bytes.empty()) {
    stop = {"an empty file", 0};
  } else if (bytes[0] != kMessageTypeByte && bytes.size() >= 3 &&
             (bytes[1] == kPushType || bytes[1] == kConfirmedPushType)) {
    whole = Push(r, &stop);
  } else {
    whole = Pdu(r, &stop);
  }
  if (whole) {
    return kOk;
  }
  const std::string at = Offset(stop.offset);
  std::printf("(stopped at %s: %s cannot be read)\n", at.c_str(),
              stop.what.c_str());
  return Fail(kName, "'" + path + "': stopped at offset " + at + " of " +
                         Number(bytes.size()) + ": " + stop.what +
                         " cannot be read");
}

int Run(const Args& args) {
  std::vector<std::string> files;
  for (const std::string& a : args) {
    if (a.size() > 1 && a[0] == '-') {
      return Fail(kName, "unknown option '" + a + "'", kUsage);
    }
    files.push_back(a);
  }
  if (files.empty()) {
    return Fail(kName, "name a PDU file to dump", kUsage);
  }
  int result = kOk;
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) {
      std::printf("\n");
    }
    if (DumpFile(files[i]) != kOk) {
      result = kFailed;
    }
  }
  return result;
}

const Registration kRegistration({
    kName,
    "show every header field and entry of MMS PDU files",
    "usage: mmsctl dump FILE...\n\n"
    "Prints every header field of each MMS PDU file, named as the MMS\n"
    "encapsulation names it, with its offset (hex) and its value decoded by\n"
    "kind: texts, encoded strings with their charset, enumerations by name,\n"
    "dates as seconds and UTC, lengths and sizes. A multipart body follows\n"
    "entry by entry: offset, header and data lengths, Content-Type,\n"
    "Content-ID, Content-Location. A file holding a whole WSP Push PDU is\n"
    "unwrapped first. A short or damaged file is shown as far as it can be\n"
    "read, with where it stopped.\n\n"
    "Exit status: 0 every file read whole; 1 a file unreadable or cut\n"
    "short; 2 bad usage.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
