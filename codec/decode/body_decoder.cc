// body_decoder.cc: a whole PDU into a message: the header fields, one file
// per multipart entry in the decode folder, the file array naming them.
//
// Entries are handled one at a time, each file written straight from the
// PDU's bytes; nothing of an entry outlives its turn. The bounded form
// (DecodeMessage) is what the library calls; CMMS::MMS_DeCode has no
// length to give and trusts the PDU's own length fields.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "client/store.h"
#include "codec/byte_reader.h"
#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/decode/file_array.h"
#include "codec/decode/part_name.h"
#include "codec/header_table.h"
#include "codec/records.h"
#include "platform/move_file.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr uint8_t kLengthQuote = 31;
constexpr uint8_t kQuote = 34;
constexpr uint8_t kImageJpegByte = 0x80 | kTypeImageJpeg;              // 158
constexpr uint8_t kImageGifByte = 0x80 | kTypeImageGif;                // 157
constexpr uint8_t kContentIdByte = 0x80 | kWspContentId;               // 192
constexpr uint8_t kContentLocationByte = 0x80 | kWspContentLocation;  // 142
constexpr DWORD kMaxWriteChunk = 1u << 30;

// The header record of one decode, released however the decode ends.
class HeaderRecord {
 public:
  HeaderRecord() { std::memset(&record_, 0, sizeof(record_)); }
  ~HeaderRecord() { FreeMmsHeader(&record_); }
  HeaderRecord(const HeaderRecord&) = delete;
  HeaderRecord& operator=(const HeaderRecord&) = delete;
  MMS_Header* get() { return &record_; }

 private:
  MMS_Header record_;
};

// A text up to its 0 (consumed, not part of the view), or to the end.
void ReadTextView(ByteReader& r, BytesView* out) {
  out->data = r.current();
  out->size = 0;
  uint8_t b = 0;
  while (r.ReadByte(&b) && b != 0) {
    ++out->size;
  }
}

void CopyField(const char* text, char* field) {
  if (text != nullptr) {
    std::strncpy(field, text, 259);
    field[259] = '\0';
  }
}

int DecodeMessageUnguarded(const uint8_t* pdu, size_t size,
                           MMS_Custom_Data* message) {
  (void)CreateDeCodeFolder();
  HeaderRecord header;
  int header_length = 0;
  if (DecodeMmsHeaderBounded(header.get(), pdu, size, message,
                             &header_length) != 0) {
    return -1;
  }
  ByteReader r(pdu, size);
  uint32_t count = 0;
  if (!r.Skip(static_cast<size_t>(header_length)) ||
      !ReadEntryCount(r, &count) || count == 0 || count > kMaxEntries) {
    return -1;
  }
  // Only entries that are whole get a file; a cut one is never written.
  uint32_t whole = 0;
  {
    ByteReader walk = r;
    PartView part;
    while (whole < count && DecodePart(walk, &part)) {
      ++whole;
    }
  }
  if (whole == 0 || !RemakeFileArray(message, static_cast<int>(whole))) {
    return -1;
  }
  for (uint32_t i = 0; i < whole; ++i) {
    PartView part;
    if (!DecodePart(r, &part) ||
        WritePartFile(part, message, static_cast<int>(i)) != 1) {
      // Only the parts written whole are listed.
      std::memset(message->m_pFileNameArray[i], 0, 260);
      message->m_nFileNum = static_cast<int>(i);
      return -1;
    }
  }
  if (whole < count) {
    return -1;
  }
  MMS_Header* h = header.get();
  CopyField(h->pszFrom, message->m_szSenderPhoneNumber);
  CopyField(h->pszTo, message->m_szPhoneNumber);
  CopyField(h->pszSubject, message->m_szSubject);
  if (h->pDate != nullptr) {
    message->m_stDate = *h->pDate;
  }
  return 0;
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
  *part = PartView();
  part->header_length = header_length;
  part->data_length = data_length;
  part->data = data;
  DecodePartHeaders(block, part);
  return true;
}

void DecodePartHeaders(ByteReader block, PartView* part) {
  for (;;) {
    const uint8_t* at = block.current();
    uint8_t b = 0;
    if (!block.ReadByte(&b)) {
      return;
    }
    uint8_t next = 0;
    if (b == kImageJpegByte || b == kImageGifByte) {
      part->content_type = BytesView{at, 1};
    } else if (b == 'a' || b == 'i') {
      // A textual media type ("application/...", "image/..."): its text,
      // first letter included, up to its 0.
      BytesView rest;
      ReadTextView(block, &rest);
      part->content_type = BytesView{at, rest.size + 1};
    } else if (b == kContentIdByte && block.PeekByte(&next) &&
               next == kQuote) {
      (void)block.Skip(1);
      ReadTextView(block, &part->content_id);
    } else if (b == kContentLocationByte) {
      ReadTextView(block, &part->location);
    } else {
      uint32_t length = b;
      const uint8_t* value = nullptr;
      if ((b == kLengthQuote && !block.ReadUintvar(&length)) ||
          !block.ReadBytes(length, &value)) {
        return;
      }
      part->content_type = BytesView{value, length};
    }
  }
}

std::wstring PartFileName(const PartView& part, int index) {
  if (part.location.size > 0) {
    return SafePartName(reinterpret_cast<const char*>(part.location.data),
                        part.location.size);
  }
  if (part.content_id.size > 0) {
    std::string id(reinterpret_cast<const char*>(part.content_id.data),
                   part.content_id.size);
    if (id[0] == '<') {
      id = id.substr(1, id.find('>', 1) - 1);
    }
    if (!id.empty()) {
      if (id.find(".smil") == std::string::npos) {
        id += ".smil";  // a part known only by its ID is the presentation
      }
      return SafePartName(id.data(), id.size());
    }
  }
  return L"part" + std::to_wstring(index);
}

int WritePartFile(const PartView& part, MMS_Custom_Data* message, int index) {
  if (message == nullptr) {
    return -1;
  }
  std::wstring path = std::wstring(mms::client::kDecodeFolder) +
                      PartFileName(part, index);
  if (message->SetFileNameArray(index, path.data()) != 1) {
    return -1;
  }
  // Written under a name of its own, then renamed: the part's name holds
  // the whole part or nothing new (a full disk leaves no cut file).
  static std::atomic<unsigned> serial{0};
  const std::wstring temp = std::wstring(mms::client::kDecodeFolder) + L"~" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(serial++) + L".part";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return -1;
  }
  ByteReader data(part.data, part.data_length);
  bool ok = true;
  while (ok && !data.empty()) {
    const DWORD chunk = static_cast<DWORD>(
        std::min<size_t>(data.remaining(), kMaxWriteChunk));
    const uint8_t* bytes = nullptr;
    DWORD written = 0;
    ok = data.ReadBytes(chunk, &bytes) &&
         WriteFile(file, bytes, chunk, &written, nullptr) && written == chunk;
  }
  ok = CloseHandle(file) && ok &&
       MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!ok) {
    DeleteFileW(temp.c_str());
    return -1;
  }
  return 1;
}

int DecodeMessage(const uint8_t* pdu, size_t size, MMS_Custom_Data* message) {
  if (pdu == nullptr || message == nullptr ||
      size > static_cast<size_t>(INT_MAX)) {
    return -1;
  }
  try {
    return DecodeMessageUnguarded(pdu, size, message);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

}  // namespace mms::codec

// Given no length, the decode reads what the PDU's own length fields say
// is there, as the phone did. Every caller that holds the length (opening a
// file, retrieving a message) calls DecodeMessage instead.
int CMMS::MMS_DeCode(unsigned char* pdu, MMS_Custom_Data* message) {
  return mms::codec::DecodeMessage(pdu, INT_MAX, message);
}
