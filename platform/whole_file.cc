// whole_file.cc: ReadWholeFile over the platform file calls.
#include "platform/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace mms::platform {

LocalBlock<unsigned char> ReadWholeFile(const wchar_t* path,
                                        bool create_missing, size_t terminator,
                                        DWORD* size) {
  *size = 0;
  uint64_t found = 0;
  OwnedHandle file = OwnHandle(OpenForReading(path, create_missing, &found));
  if (file == nullptr) {
    return nullptr;
  }
  if (found >= INVALID_FILE_SIZE) {
    SetLastError(ERROR_INVALID_PARAMETER);  // as GetFileSize tells it
    return nullptr;
  }
  const auto file_size = static_cast<DWORD>(found);
  // Uncleared: the read fills the file's bytes, only the terminator is
  // zeroed.
  const size_t block_size = size_t{file_size} + terminator;
  LocalBlock<unsigned char> bytes(static_cast<unsigned char*>(
      LocalAlloc(LMEM_FIXED, block_size == 0 ? 1 : block_size)));
  if (bytes == nullptr) {
    return nullptr;
  }
  std::memset(bytes.get() + file_size, 0, block_size - file_size);
  if (!ReadExactly(file.get(), bytes.get(), file_size)) {
    return nullptr;
  }
  *size = file_size;
  return bytes;
}

// stdio, not streams: a stream that meets a folder throws from inside the
// read instead of reporting it.
bool ReadHostFile(const std::string& host_path, std::vector<uint8_t>* bytes,
                  std::string* why) {
  bytes->clear();
  FILE* file = std::fopen(host_path.c_str(), "rb");
  int error = errno;
  bool read = file != nullptr;
  if (read) {
    uint8_t buffer[64 * 1024];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      bytes->insert(bytes->end(), buffer, buffer + n);
    }
    read = std::ferror(file) == 0;
    error = errno;
    std::fclose(file);
  }
  if (!read && why != nullptr) {
    *why = std::strerror(error);
  }
  return read;
}

}  // namespace mms::platform
