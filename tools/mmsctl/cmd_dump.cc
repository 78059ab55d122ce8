// cmd_dump.cc: `mmsctl dump`: every header field of any MMS PDU with its
// offset and value, then each multipart entry.
//
// Fields are split by the codec's strict walk (codec/header_fields.h) and
// named from its one header table; everything is read through ByteReader,
// so a short or damaged file prints what it can and says where it ended.
// A whole WSP Push PDU (as pushed to a device) is unwrapped first.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "codec/byte_reader.h"
#include "codec/header_fields.h"
#include "codec/header_table.h"
#include "platform/whole_file.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/dump_names.h"
#include "tools/mmsctl/dump_values.h"

namespace mmsctl {
namespace {

namespace codec = mms::codec;
using codec::ByteReader;
using codec::FieldStep;
using codec::HeaderField;
using dump::Escaped;
using dump::FieldValue;
using dump::GenericValue;
using dump::Hex;
using dump::HexOf;
using dump::Number;
using dump::Offset;
using dump::Quoted;
using dump::Unreadable;

constexpr char kName[] = "dump";
constexpr uint8_t kMessageTypeByte = 0x80 | codec::kMessageType;
constexpr uint8_t kPushType = 0x06;
constexpr uint8_t kConfirmedPushType = 0x07;
constexpr uint8_t kWspContentLocation = codec::kWspContentLocation;
constexpr uint8_t kWspContentId = codec::kWspContentId;

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
      Line(headers_at, "Content-Type", dump::ContentType(type, &media), 2);
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
  Line(headers_at, "Content-Type", dump::ContentType(type_value, &media));
  WspHeaders(ByteReader(headers.current(), headers.remaining()),
             headers_at + headers.position(), 0);
  return Pdu(r, stop);
}

// 0 when the file was read whole, else 1 (reported on stderr).
int DumpFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!mms::platform::ReadHostFile(path, &bytes, &why)) {
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
