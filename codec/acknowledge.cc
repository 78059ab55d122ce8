// acknowledge.cc: the m-acknowledge-ind that confirms a retrieved message,
// and the lookup of that message's transaction ID in its stored file.
//
// The acknowledgement is fixed apart from the ID:
//
//   OFFSET      BYTES         FIELD
//   0           8C 85         X-Mms-Message-Type   m-acknowledge-ind
//   2           98 T.. 00     X-Mms-Transaction-Id the caller's text
//   3+len(T)+1  8D 90         X-Mms-MMS-Version    1.0
//   3+len(T)+3  91 80         X-Mms-Report-Allowed Yes
#include "codec/acknowledge.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "codec/byte_writer.h"
#include "codec/decode/decoder.h"
#include "codec/header_table.h"
#include "codec/records.h"
#include "platform/whole_file.h"
#include "platform/winapi.h"

namespace {

using mms::codec::ByteWriter;

constexpr size_t kAckFixedBytes = 8;

// The header record of a scratch CMMS: its texts, then the record.
struct HeaderReleaser {
  void operator()(MMS_Header* header) const {
    FreeMmsHeader(header);
    LocalFree(header);
  }
};

}  // namespace

unsigned char* CMMS::MakeDeliveryAcknowledgement(unsigned char* transaction_id,
                                                 int* length) {
  namespace codec = mms::codec;
  if (transaction_id == nullptr || length == nullptr) {
    return nullptr;
  }
  const char* id = reinterpret_cast<const char*>(transaction_id);
  const size_t id_bytes = std::strlen(id);
  ByteWriter pdu(id_bytes + kAckFixedBytes);
  const bool written = pdu.Reserve(id_bytes + kAckFixedBytes) &&
                       pdu.PutShortInteger(codec::kMessageType) &&
                       pdu.PutByte(codec::kMsgAcknowledgeInd) &&
                       pdu.PutShortInteger(codec::kTransactionId) &&
                       pdu.PutTextString(id, id_bytes) &&
                       pdu.PutShortInteger(codec::kMmsVersion) &&
                       pdu.PutByte(codec::kMmsVersion10) &&
                       pdu.PutShortInteger(codec::kReportAllowed) &&
                       pdu.PutByte(codec::kYes);
  if (!written) {
    return nullptr;
  }
  size_t size = 0;
  unsigned char* block = pdu.TakeBlock(&size);
  if (block != nullptr) {
    *length = static_cast<int>(size);
  }
  return block;
}

namespace mms::codec {

unsigned char* MakeNotifyResponse(const char* transaction_id, uint8_t status,
                                  int* length) {
  if (transaction_id == nullptr || length == nullptr) {
    return nullptr;
  }
  const size_t id_bytes = std::strlen(transaction_id);
  ByteWriter pdu(id_bytes + kAckFixedBytes + 2);
  const bool written =
      pdu.PutShortInteger(kMessageType) && pdu.PutByte(kMsgNotifyRespInd) &&
      pdu.PutShortInteger(kTransactionId) &&
      pdu.PutTextString(transaction_id, id_bytes) &&
      pdu.PutShortInteger(kMmsVersion) && pdu.PutByte(kMmsVersion10) &&
      pdu.PutShortInteger(kStatus) && pdu.PutByte(status) &&
      pdu.PutShortInteger(kReportAllowed) && pdu.PutByte(kYes);
  size_t size = 0;
  unsigned char* block = written ? pdu.TakeBlock(&size) : nullptr;
  if (block != nullptr) {
    *length = static_cast<int>(size);
  }
  return block;
}

}  // namespace mms::codec

bool mms::codec::ReadTransactionId(const uint8_t* pdu, size_t size,
                                   std::string* id) {
  // The decoder leaves the Cc text and read-report flag in a message; a
  // scratch one takes them.
  std::unique_ptr<MMS_Custom_Data> scratch(new (std::nothrow) MMS_Custom_Data);
  std::unique_ptr<MMS_Header, HeaderReleaser> header(
      static_cast<MMS_Header*>(LocalAlloc(LPTR, sizeof(MMS_Header))));
  if (pdu == nullptr || size == 0 || scratch == nullptr || header == nullptr) {
    return false;
  }
  int header_length = 0;
  const int decoded = DecodeMmsHeaderBounded(header.get(), pdu, size,
                                             scratch.get(), &header_length);
  if (decoded != 0 || header->pszTransactionId == nullptr) {
    return false;
  }
  *id = header->pszTransactionId;
  return true;
}

unsigned char* CMMS::GetMMSTranscationID(wchar_t* path) {
  if (path == nullptr) {
    return nullptr;
  }
  // A missing file is created empty, as the phone's open does.
  DWORD size = 0;
  mms::platform::LocalBlock<unsigned char> pdu =
      mms::platform::ReadWholeFile(path, true, 0, &size);
  std::string id;
  if (pdu == nullptr || size == 0 ||
      !mms::codec::ReadTransactionId(pdu.get(), size, &id)) {
    return nullptr;
  }
  auto* copy = static_cast<unsigned char*>(LocalAlloc(LPTR, id.size() + 1));
  if (copy != nullptr) {
    std::memcpy(copy, id.c_str(), id.size() + 1);
  }
  return copy;
}
