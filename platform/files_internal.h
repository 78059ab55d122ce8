// files_internal.h: what files.cc and folders.cc share: device path
// resolution with Win32 error codes, errno mapping and the open-file check.
#ifndef MMS_PLATFORM_FILES_INTERNAL_H_
#define MMS_PLATFORM_FILES_INTERNAL_H_

#include <string>

#include "platform/winapi.h"

namespace mms::platform {

// Host path of a device path; ERROR_SUCCESS, or ERROR_INVALID_PARAMETER
// for null, ERROR_PATH_NOT_FOUND for a path that cannot name anything.
// With as_given the last component keeps the spelling given (see
// DeviceToHostPathAsGiven): calls on an existing entry try that first and
// look for another spelling (OtherSpelling) only when it is missing.
DWORD ResolveDevicePath(const wchar_t* path, std::string* host,
                        bool as_given = false);

// After the spelling given (host) was missing: true with *other set to the
// entry of its folder that differs from it only in letter case, when there
// is one. errno is left as it was.
bool OtherSpelling(const wchar_t* path, const std::string& host,
                   std::string* other);

// After a path call failed: true when it failed with ERROR_PATH_NOT_FOUND
// and remembered folders were dropped, so running it once more may find a
// folder renamed or replaced since it was remembered.
bool RetryAfterMissingPath();

// The error for a host path that does not exist: ERROR_FILE_NOT_FOUND when
// its folder exists, else ERROR_PATH_NOT_FOUND.
DWORD MissingPathError(const std::string& host);

DWORD ErrorFromErrno(int error);

// True while some handle of this process has the host file open.
bool IsHostFileOpen(const std::string& host);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_FILES_INTERNAL_H_
