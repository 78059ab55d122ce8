// open.cc: CMMS::MMS_Open, a stored message file into a message object:
// headers, part files in the decode folder, and slides from its SMIL.
//
// Only file errors are reported; what the decoder makes of the bytes is
// left in the message, as a client of the phone expects.
#include <new>

#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "mms.h"
#include "platform/winapi.h"
#include "smil/received.h"

namespace mms::client {
namespace {

// The whole file in a new LocalAlloc block; null on any file error or for
// an empty file.
unsigned char* ReadWholeFile(const wchar_t* path, DWORD* size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const DWORD file_size = GetFileSize(file, nullptr);
  unsigned char* bytes = nullptr;
  if (file_size != 0 && file_size != INVALID_FILE_SIZE) {
    // Not cleared: the reads fill it whole, or it is freed.
    bytes = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, file_size));
  }
  DWORD done = 0;
  while (bytes != nullptr && done < file_size) {
    DWORD got = 0;
    // The cursor of the file moves with each read; bytes + done is the
    // matching place in the block.
    if (!ReadFile(file, bytes + done, file_size - done, &got, nullptr) ||
        got == 0) {
      LocalFree(bytes);
      bytes = nullptr;
      break;
    }
    done += got;
  }
  CloseHandle(file);
  *size = file_size;
  return bytes;
}

}  // namespace
}  // namespace mms::client

int CMMS::MMS_Open(wchar_t* path, MMS_Custom_Data* message) {
  if (path == nullptr || message == nullptr) {
    return -1;
  }
  try {
    DWORD size = 0;
    unsigned char* pdu = mms::client::ReadWholeFile(path, &size);
    if (pdu == nullptr) {
      return -1;
    }
    // Results ignored: a file that was read opens, whatever it held. The
    // slides come from the presentation the decode found, not from the
    // first file whose name holds "smil".
    mms::codec::DecodedFiles files;
    (void)mms::codec::DecodeMessageFiles(pdu, size, message, &files);
    (void)mms::smil::ParseDecodedSlides(message, files);
    LocalFree(pdu);
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}
