// files.cc: CreateFileW and the calls on an open file handle.
//
// Each handle owns its own host descriptor and file position. Sharing is
// enforced among the handles of this process only, keyed by host path:
// an open is refused with ERROR_SHARING_VIOLATION when it wants access an
// existing handle does not share, or when it does not share access an
// existing handle already has. Other processes are not seen.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/files_internal.h"
#include "platform/handle_table.h"

namespace mms::platform {
namespace {

struct OpenRecord {
  DWORD access;  // GENERIC_READ / GENERIC_WRITE bits
  DWORD share;   // FILE_SHARE_READ / FILE_SHARE_WRITE bits
};

struct Sharing {
  std::mutex mu;              // held across the check and the open
  uint64_t next_open_id = 1;  // guarded by mu
  // host path -> open id -> record; guarded by mu
  std::map<std::string, std::map<uint64_t, OpenRecord>> open_files;
};

// Never destroyed: a detached thread may close a file while the process
// exits.
Sharing& GetSharing() {
  static Sharing* sharing = new Sharing;
  return *sharing;
}

// With GetSharing().mu held.
bool SharingAllows(const std::string& host, DWORD access, DWORD share) {
  const auto& open_files = GetSharing().open_files;
  auto it = open_files.find(host);
  if (it == open_files.end()) {
    return true;
  }
  for (const auto& [id, other] : it->second) {
    if ((access & GENERIC_READ) != 0 && (other.share & FILE_SHARE_READ) == 0) {
      return false;
    }
    if ((access & GENERIC_WRITE) != 0 &&
        (other.share & FILE_SHARE_WRITE) == 0) {
      return false;
    }
    if ((other.access & GENERIC_READ) != 0 && (share & FILE_SHARE_READ) == 0) {
      return false;
    }
    if ((other.access & GENERIC_WRITE) != 0 &&
        (share & FILE_SHARE_WRITE) == 0) {
      return false;
    }
  }
  return true;
}

class OpenFile : public HandleObject {
 public:
  OpenFile(int fd, std::string host, DWORD access, uint64_t open_id)
      : fd_(fd), host_(std::move(host)), access_(access), open_id_(open_id) {}

  ~OpenFile() override {
    close(fd_);
    Sharing& sharing = GetSharing();
    std::lock_guard<std::mutex> lock(sharing.mu);
    auto it = sharing.open_files.find(host_);
    if (it != sharing.open_files.end()) {
      it->second.erase(open_id_);
      if (it->second.empty()) {
        sharing.open_files.erase(it);
      }
    }
  }

  int fd() const { return fd_; }
  DWORD access() const { return access_; }

 private:
  const int fd_;            // owned host descriptor
  const std::string host_;  // key in Sharing::open_files
  const DWORD access_;      // GENERIC_* bits granted at open
  const uint64_t open_id_;  // this handle's entry under host_
};

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

int OpenFlags(DWORD access) {
  if ((access & GENERIC_WRITE) != 0) {
    return (access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY;
  }
  return O_RDONLY;
}

}  // namespace

bool IsHostFileOpen(const std::string& host) {
  Sharing& sharing = GetSharing();
  std::lock_guard<std::mutex> lock(sharing.mu);
  return sharing.open_files.count(host) != 0;
}

namespace {

HANDLE CreateFileOnce(const wchar_t* path, DWORD access, DWORD share,
                      DWORD disposition) {
  std::string host;
  DWORD error = ResolveDevicePath(path, &host);
  if (error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }

  Sharing& sharing = GetSharing();
  std::lock_guard<std::mutex> lock(sharing.mu);
  struct stat st;
  bool exists = stat(host.c_str(), &st) == 0;
  if (!exists) {
    if (errno != ENOENT) {
      return Fail(ErrorFromErrno(errno));
    }
    error = MissingPathError(host);
    if (error == ERROR_PATH_NOT_FOUND || disposition == OPEN_EXISTING ||
        disposition == TRUNCATE_EXISTING) {
      return Fail(error);
    }
  } else if (S_ISDIR(st.st_mode)) {
    return Fail(ERROR_ACCESS_DENIED);
  } else if (disposition == CREATE_NEW) {
    return Fail(ERROR_FILE_EXISTS);
  }
  if (exists && !SharingAllows(host, access, share)) {
    return Fail(ERROR_SHARING_VIOLATION);
  }

  bool truncate_existing = exists && (disposition == CREATE_ALWAYS ||
                                      disposition == TRUNCATE_EXISTING);
  int flags = OpenFlags(access) | O_CLOEXEC;
  if (!exists) {
    flags |= O_CREAT | O_EXCL;
  } else if (truncate_existing && (access & GENERIC_WRITE) != 0) {
    flags |= O_TRUNC;
  } else if (truncate_existing && truncate(host.c_str(), 0) != 0) {
    return Fail(ErrorFromErrno(errno));
  }
  int fd = open(host.c_str(), flags, 0644);
  if (fd < 0) {
    return Fail(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
  }
  uint64_t open_id = sharing.next_open_id++;
  sharing.open_files[host][open_id] = OpenRecord{access, share};
  HANDLE handle =
      AddHandle(std::make_shared<OpenFile>(fd, host, access, open_id));
  bool existed_note =
      exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(existed_note ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

}  // namespace
}  // namespace mms::platform

using mms::platform::ErrorFromErrno;
using mms::platform::LookupHandle;
using mms::platform::OpenFile;

HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share,
                   void* /*security*/, DWORD disposition, DWORD /*attributes*/,
                   HANDLE /*template_file*/) {
  using namespace mms::platform;
  HANDLE handle = CreateFileOnce(path, access, share, disposition);
  if (handle == INVALID_HANDLE_VALUE && RetryAfterMissingPath()) {
    handle = CreateFileOnce(path, access, share, disposition);
  }
  return handle;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read,
              void* /*overlapped*/) {
  if (read != nullptr) {
    *read = 0;
  }
  std::shared_ptr<OpenFile> open_file = LookupHandle<OpenFile>(file);
  if (open_file == nullptr) {
    return FALSE;
  }
  if ((open_file->access() & GENERIC_READ) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (buffer == nullptr && to_read > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  while (done < to_read) {
    ssize_t n = ::read(open_file->fd(), static_cast<char*>(buffer) + done,
                       to_read - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      SetLastError(ErrorFromErrno(errno));
      return FALSE;
    }
    if (n == 0) {
      break;  // end of file: success with fewer bytes
    }
    done += static_cast<DWORD>(n);
    if (read != nullptr) {
      *read = done;
    }
  }
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written,
               void* /*overlapped*/) {
  if (written != nullptr) {
    *written = 0;
  }
  std::shared_ptr<OpenFile> open_file = LookupHandle<OpenFile>(file);
  if (open_file == nullptr) {
    return FALSE;
  }
  if ((open_file->access() & GENERIC_WRITE) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (buffer == nullptr && to_write > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  while (done < to_write) {
    ssize_t n =
        ::write(open_file->fd(), static_cast<const char*>(buffer) + done,
                to_write - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      SetLastError(n < 0 ? ErrorFromErrno(errno) : ERROR_HANDLE_DISK_FULL);
      return FALSE;
    }
    done += static_cast<DWORD>(n);
    if (written != nullptr) {
      *written = done;
    }
  }
  return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* size_high) {
  std::shared_ptr<OpenFile> open_file = LookupHandle<OpenFile>(file);
  struct stat st;
  if (open_file == nullptr) {
    return INVALID_FILE_SIZE;
  }
  if (fstat(open_file->fd(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size_high != nullptr) {
    *size_high = static_cast<DWORD>(size >> 32);
  } else if ((size >> 32) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_SIZE;
  }
  SetLastError(ERROR_SUCCESS);  // lets callers tell a real 0xFFFFFFFF
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high,
                     DWORD method) {
  std::shared_ptr<OpenFile> open_file = LookupHandle<OpenFile>(file);
  if (open_file == nullptr) {
    return INVALID_SET_FILE_POINTER;
  }
  int64_t offset = distance;
  if (distance_high != nullptr) {
    offset = static_cast<int64_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32) |
        static_cast<uint32_t>(distance));
  }
  int whence = method == FILE_BEGIN     ? SEEK_SET
               : method == FILE_CURRENT ? SEEK_CUR
               : method == FILE_END     ? SEEK_END
                                        : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t at = lseek(open_file->fd(), static_cast<off_t>(offset), whence);
  if (at < 0) {
    // EINVAL: the move would end before the start of the file.
    SetLastError(errno == EINVAL ? ERROR_INVALID_PARAMETER
                                 : ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high != nullptr) {
    *distance_high = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(static_cast<uint64_t>(at));
}

BOOL FlushFileBuffers(HANDLE file) {
  std::shared_ptr<OpenFile> open_file = LookupHandle<OpenFile>(file);
  if (open_file == nullptr) {
    return FALSE;
  }
  if (fsync(open_file->fd()) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}
