// body.h: the body of a PDU, one entry at a time, as views into the PDU's
// bytes (nothing is copied or allocated while parsing).
//
//   field       form                  meaning
//   count       uintvar               entries that follow
//   HeadersLen  uintvar               bytes of the entry's header block
//   DataLen     uintvar               bytes of the entry's data
//   headers     HeadersLen bytes      content type, then part headers
//   data        DataLen bytes         the part itself
//
// A body whose content type is not multipart is one part: all of it.
#ifndef MMS_CODEC_DECODE_BODY_H_
#define MMS_CODEC_DECODE_BODY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "codec/byte_reader.h"
#include "codec/wsp_reader.h"
#include "mms.h"

namespace mms::codec {

// Most entries a body may announce: the 1024 files a message record holds.
constexpr uint32_t kMaxEntries = 1024;

// Bytes borrowed from the PDU.
struct BytesView {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

enum class TransferEncoding : uint8_t { kNone, kBase64, kQuotedPrintable };

// One entry of the body; every view borrows the PDU. DecodePart resets
// every field: one added here is reset there too.
struct PartView {
  uint32_t header_length = 0;     // bytes of the header block
  uint32_t data_length = 0;       // bytes at data
  ContentTypeValue content_type;  // media type and its parameters
  BytesView content_id;           // as sent (brackets kept, quote dropped)
  BytesView location;             // Content-Location, without its 0
  BytesView filename;             // Content-Disposition filename
  TransferEncoding encoding = TransferEncoding::kNone;
  const uint8_t* data = nullptr;
};

// The entry count; false when the body ends inside it.
[[nodiscard]] bool ReadEntryCount(ByteReader& r, uint32_t* count);

// One entry at r; r moves past it. False (r unmoved) when the PDU ends
// inside the entry.
[[nodiscard]] bool DecodePart(ByteReader& r, PartView* part);

// The entry's header block into part: the content type, then well-known
// and textual headers. Never reads outside block; a header cut short ends
// the scan. block is read in place.
void DecodePartHeaders(ByteReader& block, PartView* part);

// True for every multipart media type.
bool IsMultipart(const ContentTypeValue& type);

// A whole message parsed in memory: the header into header and message
// (as DecodeHeader), then every part as a view. 0, 1 when the header has
// no Content-Type (no parts), -1 for a PDU that ends inside the header, a
// bad entry count or a cut entry (parts holds the whole ones).
struct ParsedMessage {
  std::vector<PartView> parts;
  bool announced_more = false;  // the count promised more than were whole
  int presentation = -1;        // index of the SMIL presentation, or -1
};
int ParseMessage(const uint8_t* pdu, size_t size, MMS_Header* header,
                 MMS_Custom_Data* message, ParsedMessage* parsed);

// The name a part's file gets (see part_name.h for the mapping): the
// Content-Location, else the Name or filename parameter, else the
// Content-ID without brackets, else "part<index>" with the extension of
// its media type; ".smil" is added to a SMIL part whose name lacks it.
std::wstring PartFileName(const PartView& part, int index);

// The file names of the parts (PartFileName), made distinct in letter
// case: the device's file system ignores it, so a later name that differs
// from an earlier one only in case gets "_<index>" before its extension.
std::vector<std::wstring> PartFileNames(const ParsedMessage& parsed);

// The header's From, To, Subject and Date into the message.
void CopyHeaderFields(MMS_Header* header, MMS_Custom_Data* message);

// What the slide step of opening a message needs from its decode: the
// presentation's file and, for each Content-ID (brackets removed) and
// Content-Location, the name of the file written for it.
struct DecodedFiles {
  std::wstring presentation;  // full path; empty when there is none
  std::vector<std::pair<std::string, std::wstring>> names;
};
// The same from a parse and its part names (PartFileNames).
void DescribeFiles(const ParsedMessage& parsed,
                   const std::vector<std::wstring>& names, DecodedFiles* files);

}  // namespace mms::codec

#endif  // MMS_CODEC_DECODE_BODY_H_
