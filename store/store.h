// store.h: the message store: the folder of message files, the rule that
// names a new file, and the routine that writes one PDU to such a file.
//
// A message file holds raw PDU bytes and nothing else. Saving, sending and
// retrieval all store through StoreMessageFile; decoding a message puts
// its part files into the decode folder (decode_message.h), which
// CreateDeCodeFolder (mms.h) makes.
#ifndef MMS_STORE_STORE_H_
#define MMS_STORE_STORE_H_

#include "mms.h"

namespace mms::store {

// Holds one file per stored message.
inline constexpr wchar_t kMessageFolder[] = L"\\Windows\\Messaging\\";
// The decode folder as it is created; its part files' paths are built on
// codec::kDecodeFolder, the same folder (the file system ignores case).
inline constexpr wchar_t kDecodeFolderCreate[] = L"\\Temp\\MMSDeCode";

// Writes length bytes of pdu to a freshly named file in kMessageFolder.
// 1 when every byte was written; then the full device path goes to path
// (260 characters) unless path is null. 0 when the file could not be
// created or written (no file is left behind and path is not touched), or
// for a null pdu or negative length. A missing folder is not created.
// When failure is given it tells which step failed, for callers that log it.
enum class StoreFailure { kNone, kCreate, kWrite };
int StoreMessageFile(const unsigned char* pdu, int length, wchar_t* path,
                     StoreFailure* failure = nullptr);

}  // namespace mms::store

#endif  // MMS_STORE_STORE_H_
