// send_body.cc: entries of the send-request body and their media types.
//
// Every entry is HeadersLen (uintvar), DataLen (uintvar), the header block
// (Content-type-value, Content-ID, Content-Location), then the data. The
// header block of a part is built once to learn its length when the part
// is prepared, and built again, identically, when the part is written.
#include "codec/send_body.h"

#include <cassert>
#include <cstring>

#include "codec/uintvar.h"
#include "platform/whole_file.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr size_t kMaxHeaderBlock = 4096;   // far above any 259-byte name
constexpr char kSmilName[] = "cmms.smil";  // Name and Content-Location

struct MediaRow {
  const char* extension;
  uint8_t kind;
};

// Extensions are compared exactly; anything else is application/octet-stream.
constexpr MediaRow kMediaTable[] = {
    {"smil", kKindSmil},    {"jpg", kKindImageJpeg}, {"gif", kKindImageGif},
    {"png", kKindImagePng}, {"bmp", kKindImageAny},  {"amr", kKindAudio},
    {"mid", kKindAudio},    {"mp3", kKindAudio},     {"wma", kKindAudio},
    {"wav", kKindAudio},    {"txt", kKindText},
};

template <typename T>
void Release(T*& pointer) {
  if (pointer != nullptr) {
    LocalFree(pointer);
    pointer = nullptr;
  }
}

void ReleasePartContents(MMS_Part* part) {
  if (part->pInfo != nullptr) {
    Release(part->pInfo->pContentType);
    Release(part->pInfo->pszContentId);
    Release(part->pInfo->pszName);
    Release(part->pInfo);
  }
  Release(part->pData);
}

char* CopyText(const char* text) {
  const size_t n = std::strlen(text);
  auto* copy = static_cast<char*>(LocalAlloc(LPTR, n + 1));
  if (copy != nullptr) {
    std::memcpy(copy, text, n);
  }
  return copy;
}

// Content-type values, one per kind family.
bool PutSmilType(const char*, ByteWriter* out) {
  return out->PutTextString(kTextSmil) && out->PutShortInteger(kParamName) &&
         out->PutTextString(kSmilName);
}

bool PutImageType(uint8_t kind, const char* name, ByteWriter* out) {
  return out->PutByte(kind) && out->PutShortInteger(kParamName) &&
         out->PutTextString(name);
}

bool PutAudioType(const char* name, ByteWriter* out) {
  return out->PutTextString(kTextAudioMidi) &&
         out->PutShortInteger(kParamName) && out->PutTextString(name);
}

// Text files are sent as stored and declared UTF-8.
bool PutTextType(const char* name, ByteWriter* out) {
  return out->PutShortInteger(kTypeTextPlain) &&
         out->PutShortInteger(kParamCharset) &&
         out->PutShortInteger(kCharsetUtf8) &&
         out->PutShortInteger(kParamName) && out->PutTextString(name);
}

bool PutOctetType(const char* name, ByteWriter* out) {
  return out->PutTextString(kTextOctetStream) &&
         out->PutShortInteger(kParamName) && out->PutTextString(name);
}

bool IsImageKind(uint8_t kind) {
  return kind == kKindImageAny || kind == kKindImageGif ||
         kind == kKindImageJpeg || kind == kKindImagePng;
}

bool PutContentTypeValue(uint8_t kind, const char* name, ByteWriter* out) {
  if (kind == kKindSmil) {
    return PutSmilType(name, out);
  }
  if (IsImageKind(kind)) {
    return PutImageType(kind, name, out);
  }
  if (kind == kKindAudio) {
    return PutAudioType(name, out);
  }
  if (kind == kKindText) {
    return PutTextType(name, out);
  }
  if (kind == kKindOctet) {
    return PutOctetType(name, out);
  }
  return false;
}

// The header block of an entry: Content-Type, Content-ID, Content-Location.
// A SMIL entry always carries the names the PDU's Start refers to.
bool PutHeaderBlock(uint8_t kind, const char* name, ByteWriter* out) {
  ByteWriter type(kMaxHeaderBlock);
  if (!PutContentTypeValue(kind, name, &type)) {
    return false;
  }
  ByteWriter content_id(kMaxHeaderBlock);
  const char* location = name;
  if (kind == kKindSmil) {
    location = kSmilName;
    if (!content_id.PutBytes(kSmilContentId, std::strlen(kSmilContentId))) {
      return false;
    }
  } else if (!content_id.PutByte('<') ||
             !content_id.PutBytes(name, std::strlen(name)) ||
             !content_id.PutByte('>')) {
    return false;
  }
  return out->PutValueLengthAnd(type) && out->PutShortInteger(kWspContentId) &&
         out->PutQuotedString(reinterpret_cast<const char*>(content_id.data()),
                              content_id.size()) &&
         out->PutShortInteger(kWspContentLocation) &&
         out->PutTextString(location);
}

// Sets the kind's header length on a part whose name and kind are set.
bool MeasureHeader(MMS_Part* part) {
  ByteWriter block(kMaxHeaderBlock);
  if (!PutHeaderBlock(part->pInfo->nKind, part->pInfo->pszName, &block)) {
    return false;
  }
  part->nHeaderLength = static_cast<int32_t>(block.size());
  return true;
}

// HeadersLen, DataLen and the header block of a prepared part.
bool PutEntryHead(MMS_Part* part, ByteWriter* out) {
  if (part->pInfo == nullptr || part->pInfo->pszName == nullptr ||
      part->nDataLength < 0) {
    return false;
  }
  ByteWriter block(kMaxHeaderBlock);
  if (!PutHeaderBlock(part->pInfo->nKind, part->pInfo->pszName, &block)) {
    return false;
  }
  // The length was measured from the same name and kind.
  assert(block.size() == static_cast<size_t>(part->nHeaderLength));
  if (block.size() != static_cast<size_t>(part->nHeaderLength)) {
    return false;
  }
  const auto data_length = static_cast<uint32_t>(part->nDataLength);
  part->nLengthSize = static_cast<int32_t>(UintvarSize(data_length));
  return out->PutUintvar(static_cast<uint32_t>(part->nHeaderLength)) &&
         out->PutUintvar(data_length) && out->PutWriter(block);
}

bool HasKind(const MMS_Part* part) { return part && part->pInfo; }

MMS_Part* NewPart() {
  auto* part = static_cast<MMS_Part*>(LocalAlloc(LPTR, sizeof(MMS_Part)));
  if (part == nullptr) {
    return nullptr;
  }
  part->pInfo =
      static_cast<MMS_PartInfo*>(LocalAlloc(LPTR, sizeof(MMS_PartInfo)));
  if (part->pInfo == nullptr) {
    LocalFree(part);
    return nullptr;
  }
  return part;
}

// Opens a file for reading and learns its size. A missing file is left
// created empty, as the phone does, and refused for having no bytes.
HANDLE OpenSizedFile(const wchar_t* path, DWORD* size) {
  uint64_t found = 0;
  HANDLE file = mms::platform::OpenForReading(path, true, &found);
  if (file == INVALID_HANDLE_VALUE) {
    return file;
  }
  if (found == 0 || found > kMaxPduBytes) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  *size = static_cast<DWORD>(found);
  return file;
}

// The same by path, for files not kept open.
bool ReadFileInto(const char* path, uint8_t* into, DWORD size) {
  wchar_t wide_path[MAX_PATH] = {};
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide_path,
                          static_cast<int>(MAX_PATH)) <= 0) {
    return false;
  }
  DWORD now = 0;
  HANDLE file = OpenSizedFile(wide_path, &now);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool ok = now == size && mms::platform::ReadExactly(file, into, size);
  CloseHandle(file);
  return ok;
}

// The file name without its folder, back in the system code page; false
// when it does not survive the round trip.
bool NameFromPath(wchar_t* wide_path, char* name) {
  wchar_t wide_name[MAX_PATH] = {};
  if (!GetFileNameFromPath(wide_path, wide_name)) {
    return false;
  }
  BOOL used_default = FALSE;
  const int n =
      WideCharToMultiByte(CP_ACP, 0, wide_name, -1, name,
                          static_cast<int>(MAX_PATH), nullptr, &used_default);
  return n > 0 && !used_default;
}

}  // namespace

uint8_t MediaKindForExtension(const char* extension) {
  for (const MediaRow& row : kMediaTable) {
    if (std::strcmp(row.extension, extension) == 0) {
      return row.kind;
    }
  }
  return kKindOctet;
}

MMS_Part* MakeSmilPart(MMS_Custom_Data* message) {
  if (message == nullptr || message->m_pSimlContent == nullptr) {
    return nullptr;
  }
  const size_t n = std::strlen(message->m_pSimlContent);
  if (n > kMaxPduBytes) {
    return nullptr;
  }
  MMS_Part* part = NewPart();
  if (part == nullptr) {
    return nullptr;
  }
  part->pInfo->nKind = kKindSmil;
  part->pInfo->pszName = CopyText(kSmilName);
  bool ok = part->pInfo->pszName != nullptr && MeasureHeader(part);
  if (ok && n > 0) {
    part->pData = static_cast<unsigned char*>(LocalAlloc(LPTR, n));
    ok = part->pData != nullptr;
    if (ok) {
      std::memcpy(part->pData, message->m_pSimlContent, n);
      part->nDataLength = static_cast<int32_t>(n);
    }
  }
  if (!ok) {
    FreeSendPart(part);
    return nullptr;
  }
  return part;
}

namespace {

// A part for the file with its name, kind, header length and data length,
// but no data yet; *file receives the file, still open, to read the bytes
// from when the entry is written (one open per file).
MMS_Part* PrepareFilePart(const char* path, HANDLE* file) {
  *file = INVALID_HANDLE_VALUE;
  if (path == nullptr) {
    return nullptr;
  }
  wchar_t wide_path[MAX_PATH] = {};
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide_path,
                          static_cast<int>(MAX_PATH)) <= 0) {
    return nullptr;
  }
  DWORD size = 0;
  HANDLE opened = OpenSizedFile(wide_path, &size);
  if (opened == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  MMS_Part* part = NewPart();
  if (part == nullptr) {
    CloseHandle(opened);
    return nullptr;
  }
  part->nDataLength = static_cast<int32_t>(size);
  char name[MAX_PATH] = {};
  char extension[MAX_PATH] = {};
  bool ok = NameFromPath(wide_path, name) && GetFileExtensionA(name, extension);
  if (ok) {
    part->pInfo->nKind = MediaKindForExtension(extension);
    part->pInfo->pszName = CopyText(name);
    ok = part->pInfo->pszName != nullptr && MeasureHeader(part);
  }
  if (!ok) {
    CloseHandle(opened);
    FreeSendPart(part);
    return nullptr;
  }
  *file = opened;
  return part;
}

}  // namespace

MMS_Part* LoadPartFile(const char* path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  MMS_Part* part = PrepareFilePart(path, &file);
  if (part == nullptr) {
    return nullptr;
  }
  const auto size = static_cast<DWORD>(part->nDataLength);
  // Not cleared: the one read fills it whole, or the part is refused.
  part->pData = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, size));
  const bool ok = part->pData != nullptr &&
                  mms::platform::ReadExactly(file, part->pData, size);
  CloseHandle(file);
  if (!ok) {
    FreeSendPart(part);
    return nullptr;
  }
  return part;
}

size_t PartEntrySize(const MMS_Part& part) {
  const auto header = static_cast<uint32_t>(part.nHeaderLength);
  const auto data = static_cast<uint32_t>(part.nDataLength);
  return UintvarSize(header) + UintvarSize(data) + header + data;
}

bool EncodeSmilPartHeader(MMS_Part* part, ByteWriter* out) {
  return HasKind(part) && part->pInfo->nKind == kKindSmil &&
         PutEntryHead(part, out);
}

bool EncodeImagePartHeader(MMS_Part* part, ByteWriter* out) {
  return HasKind(part) && IsImageKind(part->pInfo->nKind) &&
         PutEntryHead(part, out);
}

bool EncodeAudioPartHeader(MMS_Part* part, ByteWriter* out) {
  return HasKind(part) && part->pInfo->nKind == kKindAudio &&
         PutEntryHead(part, out);
}

bool EncodeTextPartHeader(MMS_Part* part, ByteWriter* out) {
  return HasKind(part) && part->pInfo->nKind == kKindText &&
         PutEntryHead(part, out);
}

bool EncodeOctetPartHeader(MMS_Part* part, ByteWriter* out) {
  return HasKind(part) && part->pInfo->nKind == kKindOctet &&
         PutEntryHead(part, out);
}

// HeadersLen, DataLen and header block, by the writer of the part's kind.
bool PutPartHead(MMS_Part* part, ByteWriter* out) {
  if (!HasKind(part)) {
    return false;
  }
  switch (part->pInfo->nKind) {
    case kKindSmil:
      return EncodeSmilPartHeader(part, out);
    case kKindImageAny:
    case kKindImageGif:
    case kKindImageJpeg:
    case kKindImagePng:
      return EncodeImagePartHeader(part, out);
    case kKindAudio:
      return EncodeAudioPartHeader(part, out);
    case kKindText:
      return EncodeTextPartHeader(part, out);
    case kKindOctet:
      return EncodeOctetPartHeader(part, out);
    default:
      return false;
  }
}

bool PutPart(MMS_Part* part, ByteWriter* out) {
  return PutPartHead(part, out) &&
         out->PutBytes(part->pData, static_cast<size_t>(part->nDataLength));
}

unsigned char* EncodePart(MMS_Part* part) {
  if (part == nullptr) {
    return nullptr;
  }
  ByteWriter entry(kMaxPduBytes);
  const bool ok = entry.Reserve(PartEntrySize(*part)) && PutPart(part, &entry);
  ReleasePartContents(part);
  size_t size = 0;
  return ok ? entry.TakeBlock(&size) : nullptr;
}

void FreeSendPart(MMS_Part* part) {
  if (part == nullptr) {
    return;
  }
  ReleasePartContents(part);
  LocalFree(part);
}

SendParts::~SendParts() { Clear(); }

void SendParts::Clear() {
  for (size_t i = 0; i < count_; ++i) {
    FreeSendPart(parts_[i]);
    if (paths_ != nullptr) {
      Release(paths_[i]);
    }
    if (files_ != nullptr && files_[i] != nullptr) {
      CloseHandle(files_[i]);
    }
  }
  Release(parts_);
  Release(paths_);
  Release(files_);
  count_ = 0;
}

bool SendParts::Load(MMS_Custom_Data* message) {
  Clear();
  if (message == nullptr || message->m_nFileNum < 0) {
    return false;
  }
  const size_t total = static_cast<size_t>(message->m_nFileNum) + 1;
  parts_ = static_cast<MMS_Part**>(LocalAlloc(LPTR, total * sizeof(*parts_)));
  paths_ = static_cast<char**>(LocalAlloc(LPTR, total * sizeof(*paths_)));
  files_ = static_cast<HANDLE*>(LocalAlloc(LPTR, total * sizeof(*files_)));
  if (parts_ == nullptr || paths_ == nullptr || files_ == nullptr) {
    Clear();
    return false;
  }
  parts_[count_] = MakeSmilPart(message);
  if (parts_[count_] == nullptr) {
    Clear();
    return false;
  }
  ++count_;
  for (int index = 0; index < message->m_nFileNum; ++index) {
    char path[MAX_PATH] = {};
    if (!message->GetFileName(index, path)) {
      Clear();
      return false;
    }
    // Every file is checked and opened now; its bytes are read from the
    // same open file when it is written.
    HANDLE file = INVALID_HANDLE_VALUE;
    parts_[count_] = PrepareFilePart(path, &file);
    if (parts_[count_] == nullptr) {
      Clear();
      return false;
    }
    paths_[count_] = CopyText(path);
    if (count_ <= kFilesKeptOpen) {
      files_[count_] = file;
    } else {
      CloseHandle(file);  // opened again when written
    }
    ++count_;
    if (paths_[count_ - 1] == nullptr) {
      Clear();
      return false;
    }
  }
  return true;
}

bool SendParts::EncodedSize(size_t* size) const {
  size_t sum = 0;
  for (size_t i = 0; i < count_; ++i) {
    const size_t entry = PartEntrySize(*parts_[i]);
    if (entry > kMaxPduBytes - sum) {
      return false;
    }
    sum += entry;
  }
  *size = sum;
  return true;
}

bool SendParts::PutAll(ByteWriter* out) {
  for (size_t i = 0; i < count_; ++i) {
    MMS_Part* part = parts_[i];
    if (paths_[i] == nullptr) {
      if (!PutPart(part, out)) {
        return false;
      }
    } else {
      // Straight from the file into the PDU: no second copy of the data.
      const auto size = static_cast<DWORD>(part->nDataLength);
      if (!PutPartHead(part, out)) {
        return false;
      }
      uint8_t* into = out->Extend(size);
      const bool read = into != nullptr &&
                        (files_[i] != nullptr
                             ? mms::platform::ReadExactly(files_[i], into, size)
                             : ReadFileInto(paths_[i], into, size));
      if (!read) {
        return false;
      }
    }
    ReleasePartContents(part);
  }
  return true;
}

unsigned char* MakeSendBody(MMS_Body* body, MMS_Custom_Data* message) {
  if (body == nullptr) {
    return nullptr;
  }
  SendParts parts;
  size_t size = 0;
  if (!parts.Load(message) || !parts.EncodedSize(&size)) {
    return nullptr;
  }
  ByteWriter out(kMaxPduBytes);
  if (!out.Reserve(size) || !parts.PutAll(&out)) {
    return nullptr;
  }
  unsigned char* block = out.TakeBlock(&size);
  if (block != nullptr) {
    body->nBodyLength = static_cast<int32_t>(size);
  }
  return block;
}

}  // namespace mms::codec
