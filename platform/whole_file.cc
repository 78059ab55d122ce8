// whole_file.cc: ReadWholeFile over the platform file calls.
#include "platform/whole_file.h"

namespace mms::platform {

LocalBlock<unsigned char> ReadWholeFile(const wchar_t* path,
                                        bool create_missing, size_t terminator,
                                        DWORD* size) {
  *size = 0;
  OwnedHandle file =
      OwnHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            create_missing ? OPEN_ALWAYS : OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file == nullptr) {
    return nullptr;
  }
  const DWORD file_size = GetFileSize(file.get(), nullptr);
  if (file_size == INVALID_FILE_SIZE) {
    return nullptr;
  }
  const size_t block_size = size_t{file_size} + terminator;
  LocalBlock<unsigned char> bytes(static_cast<unsigned char*>(
      LocalAlloc(LPTR, block_size == 0 ? 1 : block_size)));
  DWORD done = 0;
  while (bytes != nullptr && done < file_size) {
    DWORD got = 0;
    // The file's cursor moves with each read; bytes + done matches it.
    if (!ReadFile(file.get(), bytes.get() + done, file_size - done, &got,
                  nullptr) ||
        got == 0) {
      return nullptr;
    }
    done += got;
  }
  if (bytes != nullptr) {
    *size = file_size;
  }
  return bytes;
}

}  // namespace mms::platform
