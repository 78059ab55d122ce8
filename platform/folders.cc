// folders.cc: path-level calls: deleting files, making and removing
// folders, attributes, the module path, and the path helpers files.cc
// shares.
//
// A file that a handle of this process holds open cannot be deleted
// (ERROR_SHARING_VIOLATION), as on the phone.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/device_fs.h"
#include "platform/files_internal.h"
#include "platform/move_file.h"
#include "platform/text_convert.h"

namespace fs = std::filesystem;

namespace mms::platform {
namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Only a path without components reaches the root ("." and ".." are
// refused), and rmdir does not follow a link to it.
bool IsRoot(const std::string& host) {
  std::string root = DeviceRoot();
  while (root.size() > 1 && root.back() == '/') {
    root.pop_back();
  }
  return host == root;
}

}  // namespace

DWORD ResolveDevicePath(const wchar_t* path, std::string* host, bool as_given) {
  if (path == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  const bool resolved = as_given ? DeviceToHostPathAsGiven(path, host)
                                 : DeviceToHostPath(path, host);
  return resolved ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

bool OtherSpelling(const wchar_t* path, const std::string& host,
                   std::string* other) {
  const int missing = errno;  // the caller reports it when there is none
  const bool found = DeviceToHostPath(path, other) && *other != host;
  errno = missing;
  return found;
}

bool RetryAfterMissingPath() {
  return GetLastError() == ERROR_PATH_NOT_FOUND && ForgetDevicePaths();
}

DWORD MissingPathError(const std::string& host) {
  std::error_code ec;
  return fs::is_directory(fs::path(host).parent_path(), ec)
             ? ERROR_FILE_NOT_FOUND
             : ERROR_PATH_NOT_FOUND;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_HANDLE_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    default:
      return ERROR_ACCESS_DENIED;  // EACCES, EPERM, EROFS, EISDIR, ...
  }
}

}  // namespace mms::platform

using mms::platform::ErrorFromErrno;
using mms::platform::Fail;
using mms::platform::MissingPathError;
using mms::platform::OtherSpelling;
using mms::platform::ResolveDevicePath;
using mms::platform::RetryAfterMissingPath;

namespace {

// Runs call on the spelling given (*host); when that entry is missing and
// its folder holds another spelling of it, runs call once more on that one,
// left in *host.
template <typename Call>
int OnEitherSpelling(const wchar_t* path, std::string* host, Call call) {
  int done = call(*host);
  std::string other;
  if (done != 0 && errno == ENOENT && OtherSpelling(path, *host, &other)) {
    *host = std::move(other);
    done = call(*host);
  }
  return done;
}

// A file held open exists, so the sharing check needs no stat; unlink
// itself tells a missing file (ENOENT) and a folder (EISDIR).
int Unlink(const std::string& host) {
  if (mms::platform::IsHostFileOpen(host)) {
    errno = EBUSY;
    return -1;
  }
  return unlink(host.c_str());
}

BOOL DeleteFileOnce(const wchar_t* path) {
  std::string host;
  DWORD error = ResolveDevicePath(path, &host, /*as_given=*/true);
  if (error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (OnEitherSpelling(path, &host, Unlink) != 0) {
    return Fail(errno == EBUSY    ? ERROR_SHARING_VIOLATION
                : errno == ENOENT ? MissingPathError(host)
                                  : ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL MoveFileOnce(const wchar_t* from, const wchar_t* to, DWORD flags) {
  std::string host_from;
  std::string host_to;
  DWORD error = ResolveDevicePath(from, &host_from, /*as_given=*/true);
  if (error == ERROR_SUCCESS) {
    error = ResolveDevicePath(to, &host_to);
  }
  if (error != ERROR_SUCCESS) {
    return Fail(error);
  }
  struct stat st;
  if (OnEitherSpelling(from, &host_from, [&st](const std::string& given) {
        return stat(given.c_str(), &st);
      }) != 0) {
    return Fail(errno == ENOENT ? MissingPathError(host_from)
                                : ErrorFromErrno(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  // Replacing a file nobody here holds open needs no look at it first:
  // rename refuses a folder in its place (EISDIR).
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  if ((!replace || mms::platform::IsHostFileOpen(host_to)) &&
      stat(host_to.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
    if (!replace) {
      return Fail(ERROR_ALREADY_EXISTS);
    }
    if (mms::platform::IsHostFileOpen(host_to)) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
  }
  if (mms::platform::IsHostFileOpen(host_from)) {
    return Fail(ERROR_SHARING_VIOLATION);
  }
  if (rename(host_from.c_str(), host_to.c_str()) != 0) {
    return Fail(ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL CreateDirectoryOnce(const wchar_t* path) {
  std::string host;
  DWORD error = ResolveDevicePath(path, &host);
  if (error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (mkdir(host.c_str(), 0755) != 0) {
    if (errno == ENOENT) {
      return Fail(ERROR_PATH_NOT_FOUND);
    }
    return Fail(ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL RemoveDirectoryOnce(const wchar_t* path) {
  std::string host;
  DWORD error = ResolveDevicePath(path, &host, /*as_given=*/true);
  if (error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (mms::platform::IsRoot(host)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (OnEitherSpelling(path, &host, [](const std::string& given) {
        return rmdir(given.c_str());
      }) == 0) {
    return TRUE;
  }
  const int why = errno;
  struct stat st;
  if (why == ENOENT) {
    return Fail(MissingPathError(host));
  }
  if (why == ENOTDIR && stat(host.c_str(), &st) == 0) {
    return Fail(ERROR_DIRECTORY);  // a file, not a folder
  }
  return Fail(ErrorFromErrno(why == ENOTDIR ? errno : why));
}

DWORD GetFileAttributesOnce(const wchar_t* path) {
  std::string host;
  DWORD error = ResolveDevicePath(path, &host, /*as_given=*/true);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  if (OnEitherSpelling(path, &host, [&st](const std::string& given) {
        return stat(given.c_str(), &st);
      }) != 0) {
    SetLastError(errno == ENOENT ? MissingPathError(host)
                                 : ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

// Each path call runs once more when a remembered folder went missing.
BOOL DeleteFileW(const wchar_t* path) {
  BOOL ok = DeleteFileOnce(path);
  return ok || !RetryAfterMissingPath() ? ok : DeleteFileOnce(path);
}

BOOL MoveFileExW(const wchar_t* from, const wchar_t* to, DWORD flags) {
  BOOL ok = MoveFileOnce(from, to, flags);
  return ok || !RetryAfterMissingPath() ? ok : MoveFileOnce(from, to, flags);
}

BOOL CreateDirectoryW(const wchar_t* path, void* /*security*/) {
  BOOL ok = CreateDirectoryOnce(path);
  return ok || !RetryAfterMissingPath() ? ok : CreateDirectoryOnce(path);
}

BOOL RemoveDirectoryW(const wchar_t* path) {
  BOOL ok = RemoveDirectoryOnce(path);
  return ok || !RetryAfterMissingPath() ? ok : RemoveDirectoryOnce(path);
}

DWORD GetFileAttributesW(const wchar_t* path) {
  DWORD attributes = GetFileAttributesOnce(path);
  return attributes != INVALID_FILE_ATTRIBUTES || !RetryAfterMissingPath()
             ? attributes
             : GetFileAttributesOnce(path);
}

// Copies as much as fits, always terminated; a cut path returns capacity
// with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HANDLE /*module*/, wchar_t* path, DWORD capacity) {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  std::wstring wide;
  if (ec || !mms::platform::Utf8ToWideText(exe.string(), &wide)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  for (wchar_t& c : wide) {
    if (c == L'/') {
      c = L'\\';
    }
  }
  if (path == nullptr || capacity == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (wide.size() >= capacity) {
    wide.copy(path, capacity - 1);
    path[capacity - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return capacity;
  }
  wide.copy(path, wide.size());
  path[wide.size()] = L'\0';
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(wide.size());
}
