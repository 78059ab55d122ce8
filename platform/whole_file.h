// whole_file.h: a whole file at a device path in one LocalAlloc block.
#ifndef MMS_PLATFORM_WHOLE_FILE_H_
#define MMS_PLATFORM_WHOLE_FILE_H_

#include <cstddef>

#include "platform/owned.h"

namespace mms::platform {

// The file's bytes followed by `terminator` zero bytes; *size gets the
// file's own bytes. Null (*size 0) when it cannot be opened or read whole.
// With create_missing a missing file is first created empty, as the phone's
// opens do.
LocalBlock<unsigned char> ReadWholeFile(const wchar_t* path,
                                        bool create_missing, size_t terminator,
                                        DWORD* size);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_WHOLE_FILE_H_
