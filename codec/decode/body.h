// body.h: the multipart body of a PDU, one entry at a time, as views into
// the PDU's bytes (nothing is copied or allocated while parsing).
//
//   field       form                  meaning
//   count       uintvar               entries that follow
//   HeadersLen  uintvar               bytes of the entry's header block
//   DataLen     uintvar               bytes of the entry's data
//   headers     HeadersLen bytes      content type, Content-ID, -Location
//   data        DataLen bytes         the part itself
//
// The three numbers are read as uintvars: for a value below 128 that is the
// single byte the encoder writes, and the lengths never depend on how the
// header block ends.
#ifndef MMS_CODEC_DECODE_BODY_H_
#define MMS_CODEC_DECODE_BODY_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/byte_reader.h"
#include "mms.h"

namespace mms::codec {

// Most entries a body may announce: the 1024 files a message record holds.
constexpr uint32_t kMaxEntries = 1024;

// Bytes borrowed from the PDU.
struct BytesView {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// One entry of the body; every view borrows the PDU.
struct PartView {
  uint32_t header_length = 0;  // bytes of the header block
  uint32_t data_length = 0;    // bytes at data
  BytesView content_type;      // one short-integer byte, a textual type
                               // ("a..." or "i..."), or the value bytes
                               // after its Value-length
  BytesView content_id;        // after the quote byte, without its 0
  BytesView location;          // Content-Location, without its 0
  const uint8_t* data = nullptr;
};

// The entry count; false when the body ends inside it.
[[nodiscard]] bool ReadEntryCount(ByteReader& r, uint32_t* count);

// One entry at r; r moves past it. False (r unmoved) when the PDU ends
// inside the entry.
[[nodiscard]] bool DecodePart(ByteReader& r, PartView* part);

// The entry's header block into part's views. Never reads outside block;
// a value that runs past the block's end ends the scan.
void DecodePartHeaders(ByteReader block, PartView* part);

// The name the part's file gets in the decode folder (see part_name.h):
// from the Content-Location, else from the Content-ID (brackets removed,
// ".smil" added unless present), else "part<index>".
std::wstring PartFileName(const PartView& part, int index);

// Records "\temp\mmsdecode\<name>" as file index of the message and writes
// the part's bytes there straight from the PDU. 1, or -1 when the file
// cannot be recorded or written.
int WritePartFile(const PartView& part, MMS_Custom_Data* message, int index);

}  // namespace mms::codec

#endif  // MMS_CODEC_DECODE_BODY_H_
