// move_file.h: MoveFileExW, the one-step rename that makes a file appear
// whole under its name.
#ifndef MMS_PLATFORM_MOVE_FILE_H_
#define MMS_PLATFORM_MOVE_FILE_H_

#include "platform/winapi.h"

#define MOVEFILE_REPLACE_EXISTING 0x00000001u

// Renames a file in one step; with MOVEFILE_REPLACE_EXISTING a file already
// named to is replaced (readers see the old or the new file, never a mix).
BOOL MoveFileExW(const wchar_t* from, const wchar_t* to, DWORD flags);

#endif  // MMS_PLATFORM_MOVE_FILE_H_
