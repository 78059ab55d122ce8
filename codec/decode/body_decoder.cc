// body_decoder.cc: a whole PDU parsed in memory: the header, then every
// entry as views into the PDU, and the file name each part gets. A body
// that is not multipart is one part. Nothing is written here: the store
// layer writes the part files (store/decode_message.h).
#include <algorithm>
#include <climits>
#include <cstring>
#include <cwctype>
#include <string>

#include "codec/byte_reader.h"
#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/decode/part_name.h"
#include "codec/header_table.h"
#include "codec/records.h"

namespace mms::codec {
namespace {

constexpr char kSmilType[] = "application/smil";

BytesView ViewOf(const ByteReader& r) {
  return BytesView{r.current(), r.remaining()};
}

std::string StringOf(const BytesView& v) {
  return std::string(reinterpret_cast<const char*>(v.data), v.size);
}

std::string Lower(std::string text) {
  for (char& c : text) {
    c = AsciiLower(c);
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n\"");
  if (first == std::string::npos) {
    return std::string();
  }
  const size_t last = text.find_last_not_of(" \t\r\n\"");
  return text.substr(first, last - first + 1);
}

// A Content-ID without its angle brackets.
std::string BareId(const BytesView& id) {
  std::string text = Trimmed(StringOf(id));
  if (!text.empty() && text.front() == '<') {
    text.erase(0, 1);
    const size_t close = text.find('>');
    if (close != std::string::npos) {
      text.resize(close);
    }
  }
  return text;
}

// The filename="..." of a textual Content-Disposition.
BytesView FilenameInText(const ByteReader& value) {
  const std::string text = Lower(TextOf(value));
  const size_t at = text.find("filename=");
  if (at == std::string::npos) {
    return BytesView();
  }
  size_t begin = at + 9;
  size_t end = text.find(';', begin);
  if (end == std::string::npos) {
    end = text.size();
  }
  while (begin < end && (text[begin] == '"' || text[begin] == ' ')) {
    ++begin;
  }
  while (end > begin && (text[end - 1] == '"' || text[end - 1] == ' ')) {
    --end;
  }
  return BytesView{value.current() + begin, end - begin};
}

// Content-Disposition in its WSP form: Value-length, the disposition, its
// parameters.
bool ReadDisposition(ByteReader& block, PartView* part) {
  uint8_t first = 0;
  ByteReader skipped;
  if (!block.PeekByte(&first) || first > kLengthQuote) {
    return SplitWspValue(block, &skipped);
  }
  ByteReader inner;
  if (!SplitLengthPrefixed(block, &inner)) {
    return false;
  }
  uint8_t token = 0;
  ByteReader token_text;
  if (!ReadShortInteger(inner, &token) && !ReadTextString(inner, &token_text)) {
    return true;
  }
  ContentTypeValue params;
  (void)ReadParameters(inner, &params);
  const ByteReader& name =
      params.filename.empty() ? params.name : params.filename;
  if (!name.empty()) {
    part->filename = ViewOf(name);
  }
  return true;
}

// A textual part header (name and value texts).
bool ReadTextualHeader(ByteReader& block, PartView* part) {
  ByteReader name;
  ByteReader value;
  if (!SplitText(block, &name) || !ReadTextString(block, &value)) {
    return false;
  }
  if (TextIs(name, "Content-ID")) {
    part->content_id = ViewOf(value);
  } else if (TextIs(name, "Content-Location")) {
    part->location = ViewOf(value);
  } else if (TextIs(name, "Content-Disposition")) {
    const BytesView file = FilenameInText(value);
    if (file.size > 0) {
      part->filename = file;
    }
  } else if (TextIs(name, "Content-Transfer-Encoding")) {
    const std::string encoding = Lower(Trimmed(TextOf(value)));
    part->encoding = encoding == "base64" ? TransferEncoding::kBase64
                     : encoding == "quoted-printable"
                         ? TransferEncoding::kQuotedPrintable
                         : TransferEncoding::kNone;
  }
  return true;
}

// Extension for a part named by its index, from its media type.
const char* ExtensionOf(const std::string& media) {
  static const struct {
    const char* media;
    const char* extension;
  } kExtensions[] = {
      {"image/jpeg", ".jpg"},       {"image/jpg", ".jpg"},
      {"image/gif", ".gif"},        {"image/png", ".png"},
      {"image/bmp", ".bmp"},        {"image/vnd.wap.wbmp", ".wbmp"},
      {"image/tiff", ".tif"},       {"text/plain", ".txt"},
      {"text/html", ".html"},       {"text/x-vcard", ".vcf"},
      {"text/x-vcalendar", ".vcs"}, {kSmilType, ".smil"},
      {"audio/amr", ".amr"},        {"audio/mpeg", ".mp3"},
      {"audio/mp3", ".mp3"},        {"audio/midi", ".mid"},
      {"audio/mid", ".mid"},        {"audio/sp-midi", ".mid"},
      {"audio/wav", ".wav"},        {"audio/x-wav", ".wav"},
      {"audio/aac", ".aac"},        {"audio/3gpp", ".3gp"},
      {"video/3gpp", ".3gp"},       {"video/mp4", ".mp4"},
  };
  for (const auto& row : kExtensions) {
    if (media == row.media) {
      return row.extension;
    }
  }
  return "";
}

// Names that differ only in case would share one file on the device's
// file system: a later one gets "_<index>" before its extension.
void MakeCaseDistinct(std::vector<std::wstring>* names) {
  auto lower = [](std::wstring text) {
    for (wchar_t& c : text) {
      c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
  };
  for (size_t i = 1; i < names->size(); ++i) {
    std::wstring& name = (*names)[i];
    for (size_t j = 0; j < i; ++j) {
      const std::wstring& earlier = (*names)[j];
      if (earlier != name && lower(earlier) == lower(name)) {
        const size_t dot = name.rfind(L'.');
        const std::wstring stem = name.substr(0, dot);
        const std::wstring ext =
            dot == std::wstring::npos ? L"" : name.substr(dot);
        const std::wstring suffix = L"_" + std::to_wstring(i);
        // Two bytes a character is the most the code page takes.
        const size_t room = (kMaxPartNameBytes - suffix.size() * 2 -
                             std::min<size_t>(ext.size(), 32) * 2) /
                            2;
        name = stem.substr(0, room) + suffix + ext.substr(0, 32);
        j = static_cast<size_t>(-1);  // check the new name against all
      }
    }
  }
}

void CopyField(const char* text, char* field) {
  if (text != nullptr) {
    std::strncpy(field, text, 259);
    field[259] = '\0';
  }
}

}  // namespace

bool ReadEntryCount(ByteReader& r, uint32_t* count) {
  return r.ReadUintvar(count);
}

bool DecodePart(ByteReader& r, PartView* part) {
  const size_t start = r.position();
  uint32_t header_length = 0;
  uint32_t data_length = 0;
  ByteReader block;
  const uint8_t* data = nullptr;
  if (!r.ReadUintvar(&header_length) || !r.ReadUintvar(&data_length) ||
      !r.Split(header_length, &block) || !r.ReadBytes(data_length, &data)) {
    r.Rewind(start);
    return false;
  }
  // Field by field (the content type in DecodePartHeaders): clearing the
  // whole record at once costs more than the rest of the entry's read.
  part->header_length = header_length;
  part->data_length = data_length;
  part->content_id = BytesView();
  part->location = BytesView();
  part->filename = BytesView();
  part->encoding = TransferEncoding::kNone;
  part->data = data;
  DecodePartHeaders(block, part);
  return true;
}

void DecodePartHeaders(ByteReader& block, PartView* part) {
  if (!ReadContentType(block, &part->content_type)) {
    return;
  }
  for (;;) {
    uint8_t b = 0;
    if (!block.PeekByte(&b)) {
      return;
    }
    bool ok = true;
    if (b >= 0x80) {
      (void)block.Skip(1);
      ByteReader value;
      switch (b & 0x7F) {
        case kWspContentLocation:
          ok = ReadTextString(block, &value);
          part->location = ViewOf(value);
          break;
        case kWspContentId:
          ok = ReadTextString(block, &value);
          part->content_id = ViewOf(value);
          break;
        case kWspContentDisposition:
        case kWspContentDisposition14:
          ok = ReadDisposition(block, part);
          break;
        default:
          ok = SplitWspValue(block, &value);
      }
    } else if (b >= kFirstTextByte) {
      ok = ReadTextualHeader(block, part);
    } else {
      ok = false;  // no header starts with this byte
    }
    if (!ok) {
      return;
    }
  }
}

bool IsMultipart(const ContentTypeValue& type) {
  if (type.code != kNoCode) {
    return (type.code >= 0x0B && type.code <= 0x0F) ||
           (type.code >= 0x22 && type.code <= 0x26) || type.code == 0x33;
  }
  const std::string media = MediaTypeText(type);
  return media.compare(0, 10, "multipart/") == 0 ||
         media.compare(0, 30, "application/vnd.wap.multipart.") == 0;
}

int ParseMessage(const uint8_t* pdu, size_t size, MMS_Header* header,
                 MMS_Custom_Data* message, ParsedMessage* parsed) {
  ByteReader r(pdu, size);
  HeaderInfo info;
  const int result = DecodeHeader(r, header, message, &info);
  if (result != 0) {
    return result;
  }
  if (!IsMultipart(info.content_type)) {
    if (size >= static_cast<size_t>(INT_MAX)) {
      return -1;  // no length given: nothing says where this body ends
    }
    PartView part;
    part.content_type = info.content_type;
    part.data = r.current();
    part.data_length = static_cast<uint32_t>(r.remaining());
    parsed->parts.push_back(part);
  } else {
    uint32_t count = 0;
    if (!ReadEntryCount(r, &count) || count == 0 || count > kMaxEntries) {
      return -1;
    }
    parsed->parts.reserve(std::min<size_t>(count, r.remaining() / 3 + 1));
    PartView part;
    while (parsed->parts.size() < count && DecodePart(r, &part)) {
      parsed->parts.push_back(part);
    }
    parsed->announced_more = parsed->parts.size() < count;
  }
  const std::string start = BareId(ViewOf(info.content_type.start));
  for (size_t i = 0; i < parsed->parts.size() && !start.empty(); ++i) {
    if (BareId(parsed->parts[i].content_id) == start) {
      parsed->presentation = static_cast<int>(i);
      break;
    }
  }
  for (size_t i = 0; i < parsed->parts.size() && parsed->presentation < 0;
       ++i) {
    if (MediaTypeText(parsed->parts[i].content_type) == kSmilType) {
      parsed->presentation = static_cast<int>(i);
    }
  }
  return parsed->announced_more ? -1 : 0;
}

std::wstring PartFileName(const PartView& part, int index) {
  std::string raw;
  if (part.location.size > 0) {
    raw = StringOf(part.location);
  } else if (!part.content_type.name.empty()) {
    raw = TextOf(part.content_type.name);
  } else if (part.filename.size > 0) {
    raw = StringOf(part.filename);
  } else {
    raw = BareId(part.content_id);
  }
  const std::string media = MediaTypeText(part.content_type);
  if (raw.empty()) {
    raw = "part" + std::to_string(index) + ExtensionOf(media);
  }
  const std::string smil = ".smil";
  if (media == kSmilType &&
      (raw.size() < smil.size() ||
       Lower(raw.substr(raw.size() - smil.size())) != smil)) {
    raw += smil;
  }
  return SafePartName(raw.data(), raw.size());
}

std::vector<std::wstring> PartFileNames(const ParsedMessage& parsed) {
  std::vector<std::wstring> names;
  names.reserve(parsed.parts.size());
  for (size_t i = 0; i < parsed.parts.size(); ++i) {
    names.push_back(PartFileName(parsed.parts[i], static_cast<int>(i)));
  }
  MakeCaseDistinct(&names);
  return names;
}

void CopyHeaderFields(MMS_Header* h, MMS_Custom_Data* message) {
  CopyField(h->pszFrom, message->m_szSenderPhoneNumber);
  CopyField(h->pszTo, message->m_szPhoneNumber);
  CopyField(h->pszSubject, message->m_szSubject);
  if (h->pDate != nullptr) {
    message->m_stDate = *h->pDate;
  }
}

void DescribeFiles(const ParsedMessage& parsed,
                   const std::vector<std::wstring>& names,
                   DecodedFiles* files) {
  if (parsed.presentation >= 0) {
    files->presentation = std::wstring(kDecodeFolder) +
                          names[static_cast<size_t>(parsed.presentation)];
  }
  for (size_t i = 0; i < parsed.parts.size(); ++i) {
    const PartView& part = parsed.parts[i];
    const std::string id = BareId(part.content_id);
    if (!id.empty()) {
      files->names.emplace_back(id, names[i]);
    }
    if (part.location.size > 0) {
      files->names.emplace_back(StringOf(part.location), names[i]);
    }
  }
}

}  // namespace mms::codec
