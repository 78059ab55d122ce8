// decode_message.cc: a parsed PDU's parts into files of the decode folder.
//
// The PDU is parsed in memory first and the names chosen (codec/decode),
// then each file is written straight from the PDU's bytes.
#include "store/decode_message.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "codec/byte_reader.h"
#include "codec/decode/file_array.h"
#include "codec/decode/part_name.h"
#include "codec/decode/transfer.h"
#include "codec/records.h"
#include "platform/heap.h"
#include "platform/move_file.h"
#include "platform/winapi.h"
#include "store/decode_folder.h"

namespace mms::store {
namespace {

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

int DecodeMessageUnguarded(const uint8_t* pdu, size_t size,
                           MMS_Custom_Data* message,
                           codec::DecodedFiles* files) {
  (void)CreateDeCodeFolder();
  HeaderRecord header;
  codec::ParsedMessage parsed;
  const int result =
      codec::ParseMessage(pdu, size, header.get(), message, &parsed);
  if (result == 1) {
    // No Content-Type: the header fields, and no parts.
    message->m_nFileNum = 0;
    codec::CopyHeaderFields(header.get(), message);
    return 0;
  }
  if (parsed.parts.empty() ||
      !codec::RemakeFileArray(message, static_cast<int>(parsed.parts.size()))) {
    return -1;
  }
  const std::vector<std::wstring> names = codec::PartFileNames(parsed);
  KeepDecodeFolderBounded(names);
  for (size_t i = 0; i < parsed.parts.size(); ++i) {
    if (WritePartFile(parsed.parts[i], names[i], message,
                      static_cast<int>(i)) != 1) {
      // Only the parts written whole are listed.
      std::memset(message->m_pFileNameArray[i], 0, MAX_PATH);
      message->m_nFileNum = static_cast<int>(i);
      return -1;
    }
  }
  if (result != 0) {
    return -1;  // only the whole entries were written
  }
  codec::CopyHeaderFields(header.get(), message);
  if (files != nullptr) {
    codec::DescribeFiles(parsed, names, files);
  }
  return 0;
}

}  // namespace

int WritePartFile(const codec::PartView& part, const std::wstring& name,
                  MMS_Custom_Data* message, int index) {
  if (message == nullptr) {
    return -1;
  }
  std::wstring path = std::wstring(codec::kDecodeFolder) + name;
  if (message->SetFileNameArray(index, path.data()) != 1) {
    return -1;
  }
  std::vector<uint8_t> decoded;
  const uint8_t* bytes = part.data;
  size_t size = part.data_length;
  if (part.encoding != codec::TransferEncoding::kNone) {
    decoded = part.encoding == codec::TransferEncoding::kBase64
                  ? codec::DecodeBase64(part.data, part.data_length)
                  : codec::DecodeQuotedPrintable(part.data, part.data_length);
    bytes = decoded.data();
    size = decoded.size();
  }
  // Written under a name of its own, then renamed: the part's name holds
  // the whole part or nothing new (a full disk leaves no cut file).
  static std::atomic<unsigned> serial{0};
  const std::wstring temp = std::wstring(codec::kDecodeFolder) + L"~" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(serial++) + L".part";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return -1;
  }
  codec::ByteReader data(bytes, size);
  bool ok = true;
  while (ok && !data.empty()) {
    const DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(data.remaining(), kMaxWriteChunk));
    const uint8_t* run = nullptr;
    DWORD written = 0;
    ok = data.ReadBytes(chunk, &run) &&
         WriteFile(file, run, chunk, &written, nullptr) && written == chunk;
  }
  ok = CloseHandle(file) && ok &&
       MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!ok) {
    DeleteFileW(temp.c_str());
    return -1;
  }
  return 1;
}

int DecodeMessageFiles(const uint8_t* pdu, size_t size,
                       MMS_Custom_Data* message, codec::DecodedFiles* files) {
  if (pdu == nullptr || message == nullptr ||
      size > static_cast<size_t>(INT_MAX)) {
    return -1;
  }
  try {
    return DecodeMessageUnguarded(pdu, size, message, files);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int DecodeMessage(const uint8_t* pdu, size_t size, MMS_Custom_Data* message) {
  return DecodeMessageFiles(pdu, size, message, nullptr);
}

}  // namespace mms::store

// Given no length: when pdu is the start of a live LocalAlloc block (as a
// PDU the library hands out is), the block's size bounds the decode; any
// other pointer is read as far as the PDU's own length fields say, as the
// phone did. Callers that hold the length call DecodeMessage instead.
int CMMS::MMS_DeCode(unsigned char* pdu, MMS_Custom_Data* message) {
  const size_t size = IsLiveBlock(pdu) ? LocalSize(pdu) : INT_MAX;
  return mms::store::DecodeMessage(pdu, size, message);
}
