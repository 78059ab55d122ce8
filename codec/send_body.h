// send_body.h: the multipart body of a send request.
//
// The body is the SMIL entry followed by one entry per file of the message,
// in array order. Each entry is prepared as an MMS_Part (its header length
// known before anything is written), then laid out by the header writer of
// its media kind. The kind comes from the file name's extension, compared
// exactly, so upper-case extensions are sent as application/octet-stream.
#ifndef MMS_CODEC_SEND_BODY_H_
#define MMS_CODEC_SEND_BODY_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_writer.h"
#include "codec/header_table.h"
#include "codec/records.h"

namespace mms::codec {

// Media kind codes (MMS_PartInfo::nKind). The image kinds are the wire
// bytes of their well-known content types.
constexpr uint8_t kKindSmil = 30;
constexpr uint8_t kKindImageAny = 0x80 | kTypeImageAny;    // 156, "bmp"
constexpr uint8_t kKindImageGif = 0x80 | kTypeImageGif;    // 157
constexpr uint8_t kKindImageJpeg = 0x80 | kTypeImageJpeg;  // 158
constexpr uint8_t kKindImagePng = 0x80 | kTypeImagePng;    // 160
constexpr uint8_t kKindAudio = 97;
constexpr uint8_t kKindText = 0x80 | kTypeTextPlain;  // 131
constexpr uint8_t kKindOctet = 46;

// Most bytes a whole PDU may take: its length leaves through an int.
constexpr size_t kMaxPduBytes = 0x7FFFFFFF;

// Content-ID of the SMIL entry; the send request's Start points at it.
constexpr char kSmilContentId[] = "<CMSMMS>";

// Kind for a file-name extension (without the dot); kKindOctet for any
// extension the table does not hold.
uint8_t MediaKindForExtension(const char* extension);

// New body bytes: every entry of the message, SMIL first; body->nBodyLength
// gets their count. Null when a file name cannot be had or converted, a
// file cannot be read or is empty, the message has no SMIL text, or memory
// runs out; nothing is then left allocated.
unsigned char* MakeSendBody(MMS_Body* body, MMS_Custom_Data* message);

// New part for the message's SMIL text (kind 30, data without its 0); null
// when the message holds no SMIL text.
MMS_Part* MakeSmilPart(MMS_Custom_Data* message);

// New part for the file at an 8-bit device path: data, name, kind and
// header length. A missing file is created empty and then refused.
MMS_Part* LoadPartFile(const char* path);

// Bytes EncodePart produces for a prepared part.
size_t PartEntrySize(const MMS_Part& part);

// New bytes of one entry (PartEntrySize of them). Releases the part's
// attributes and data, keeps the record with its lengths. Null for an
// unknown kind or when memory runs out.
unsigned char* EncodePart(MMS_Part* part);

// Appends the whole entry (header writer of its kind, then the data) to out.
[[nodiscard]] bool PutPart(MMS_Part* part, ByteWriter* out);

// Header writers, one per kind family: HeadersLen, DataLen and the header
// block; each sets part->nLengthSize and refuses a part of another kind.
[[nodiscard]] bool EncodeSmilPartHeader(MMS_Part* part, ByteWriter* out);
[[nodiscard]] bool EncodeImagePartHeader(MMS_Part* part, ByteWriter* out);
[[nodiscard]] bool EncodeAudioPartHeader(MMS_Part* part, ByteWriter* out);
[[nodiscard]] bool EncodeTextPartHeader(MMS_Part* part, ByteWriter* out);
[[nodiscard]] bool EncodeOctetPartHeader(MMS_Part* part, ByteWriter* out);

// Releases a part's attributes and data, and the record itself.
void FreeSendPart(MMS_Part* part);

// The prepared entries of one message, SMIL first; owns the parts.
class SendParts {
 public:
  SendParts() = default;
  ~SendParts();
  SendParts(const SendParts&) = delete;
  SendParts& operator=(const SendParts&) = delete;

  // Prepares every entry of the message; false (nothing kept) on failure.
  [[nodiscard]] bool Load(MMS_Custom_Data* message);
  size_t count() const { return count_; }
  // Bytes of all entries once encoded; false past kMaxPduBytes.
  [[nodiscard]] bool EncodedSize(size_t* size) const;
  // Appends every entry to out, in order, reading each file straight into
  // out; false when a file no longer reads whole at the size it had.
  [[nodiscard]] bool PutAll(ByteWriter* out);

 private:
  void Clear();

  // Files kept open from Load to PutAll; the rest are opened again when
  // written, so a message with many files stays within the process's
  // descriptor limit.
  static constexpr size_t kFilesKeptOpen = 64;

  MMS_Part** parts_ = nullptr;  // LocalAlloc array of count_ owned parts
  char** paths_ = nullptr;      // per part: its file's 8-bit path (owned),
                                // or null for the SMIL entry
  HANDLE* files_ = nullptr;     // per part: its file while open (owned),
                                // else null
  size_t count_ = 0;
};

}  // namespace mms::codec

#endif  // MMS_CODEC_SEND_BODY_H_
