// whole_file.h: a whole file read at once, by device path into a LocalAlloc
// block, or by host path into a vector.
#ifndef MMS_PLATFORM_WHOLE_FILE_H_
#define MMS_PLATFORM_WHOLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/owned.h"

namespace mms::platform {

// Opens a file as CreateFileW(GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS
// when create_missing, else OPEN_EXISTING) does; *size gets its size as the
// open found it, without a second look. INVALID_HANDLE_VALUE (the last
// error set) when it cannot be opened.
HANDLE OpenForReading(const wchar_t* path, bool create_missing, uint64_t* size);

// Reads an open file from its cursor into `into`: true when exactly `size`
// bytes were left in it; false (last error set) when it holds fewer or more.
[[nodiscard]] bool ReadExactly(HANDLE file, void* into, size_t size);

// The file's bytes followed by `terminator` zero bytes; *size gets the
// file's own bytes. Null (*size 0) when it cannot be opened or read whole.
// With create_missing a missing file is first created empty, as the phone's
// opens do.
LocalBlock<unsigned char> ReadWholeFile(const wchar_t* path,
                                        bool create_missing, size_t terminator,
                                        DWORD* size);

// The bytes of the file at a host path into *bytes (replaced). False, with
// the system's reason in *why when given, when it cannot be read whole (a
// folder cannot).
[[nodiscard]] bool ReadHostFile(const std::string& host_path,
                                std::vector<uint8_t>* bytes,
                                std::string* why = nullptr);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_WHOLE_FILE_H_
