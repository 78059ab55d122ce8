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
#include <sys/uio.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/files_internal.h"
#include "platform/handle_table.h"
#include "platform/whole_file.h"

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
  OpenFile(int fd, std::string host, DWORD access, uint64_t open_id,
           int64_t size_at_open)
      : fd_(fd),
        host_(std::move(host)),
        access_(access),
        open_id_(open_id),
        size_at_open_(size_at_open) {}

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
  int64_t size_at_open() const { return size_at_open_; }

 private:
  const int fd_;            // owned host descriptor
  const std::string host_;  // key in Sharing::open_files
  const DWORD access_;      // GENERIC_* bits granted at open
  const uint64_t open_id_;  // this handle's entry under host_
  // The size the open found (a read-only open looks at the file anyway,
  // a create knows it empty); -1 when the open did not look.
  const int64_t size_at_open_;
};

// The open file behind handle when it was opened with `access` (GENERIC_READ
// or GENERIC_WRITE) and buffer is null only for no bytes; null, with the
// last error set, otherwise.
std::shared_ptr<OpenFile> UsableFile(HANDLE handle, DWORD access,
                                     const void* buffer, size_t bytes) {
  std::shared_ptr<OpenFile> open_file = LookupHandle<OpenFile>(handle);
  if (open_file == nullptr) {
    return nullptr;
  }
  if ((open_file->access() & access) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (buffer == nullptr && bytes > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return open_file;
}

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

// One open decides: a missing file is created exclusively, an existing one
// opened without O_CREAT, so no stat comes before the open. When another
// process creates or deletes the file between the two, the other kind of
// open is tried, a few times at most.
constexpr int kOpenAttempts = 4;

bool Creates(DWORD disposition) {
  return disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
         disposition == OPEN_ALWAYS;
}

// Opens host as an existing file; -1 with errno on failure. A folder is
// refused with EISDIR (a write open gives that by itself). *size gets the
// size a read-only open found.
int OpenExisting(const std::string& host, DWORD access, DWORD disposition,
                 int64_t* size) {
  const bool truncate_existing =
      disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  const bool writes = (access & GENERIC_WRITE) != 0;
  *size = -1;
  int flags = OpenFlags(access) | O_CLOEXEC;
  if (truncate_existing && writes) {
    flags |= O_TRUNC;
  }
  int fd = open(host.c_str(), flags);
  if (fd < 0 || writes) {
    return fd;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return -1;
  }
  if (truncate_existing && truncate(host.c_str(), 0) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  *size = truncate_existing ? 0 : static_cast<int64_t>(st.st_size);
  return fd;
}

// Opens host as disposition asks and records the open, under the sharing
// lock: a descriptor with *open_id and *size (see OpenFile), or -1 with
// errno (EBUSY: refused by another handle's sharing).
int OpenHost(const std::string& host, DWORD access, DWORD share,
             DWORD disposition, bool* existed, uint64_t* open_id,
             int64_t* size) {
  Sharing& sharing = GetSharing();
  std::lock_guard<std::mutex> lock(sharing.mu);
  struct stat st;
  // CREATE_NEW on a name another handle holds finds the name taken, as on
  // the phone: a writer picking a fresh name must hear "exists" and draw
  // again, not "in use".
  if (disposition != CREATE_NEW && !SharingAllows(host, access, share) &&
      stat(host.c_str(), &st) == 0) {
    errno = EBUSY;
    return -1;
  }
  // Creating dispositions try the exclusive create first, the others (and
  // OPEN_ALWAYS, mostly used on files that exist) the plain open.
  bool create = disposition == CREATE_NEW || disposition == CREATE_ALWAYS;
  int fd = -1;
  *size = -1;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (create) {
      fd = open(host.c_str(), OpenFlags(access) | O_CLOEXEC | O_CREAT | O_EXCL,
                0644);
      *size = fd >= 0 ? 0 : -1;
      if (fd >= 0 || errno != EEXIST || disposition == CREATE_NEW) {
        break;
      }
    } else {
      fd = OpenExisting(host, access, disposition, size);
      *existed = fd >= 0;
      if (fd >= 0 || errno != ENOENT || !Creates(disposition)) {
        break;
      }
    }
    create = !create;
  }
  if (fd >= 0) {
    *open_id = sharing.next_open_id++;
    sharing.open_files[host][*open_id] = OpenRecord{access, share};
  }
  return fd;
}

HANDLE CreateFileOnce(const wchar_t* path, DWORD access, DWORD share,
                      DWORD disposition) {
  // An existing file is opened by the spelling given when it has it, which
  // costs no look into its folder; a create needs to know every spelling.
  const bool existing_first = disposition == OPEN_EXISTING ||
                              disposition == OPEN_ALWAYS ||
                              disposition == TRUNCATE_EXISTING;
  std::string host;
  DWORD error = ResolveDevicePath(path, &host, existing_first);
  if (error != ERROR_SUCCESS) {
    return Fail(error);
  }
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  bool existed = false;
  uint64_t open_id = 0;
  int64_t size = -1;
  int fd = -1;
  if (existing_first) {
    const DWORD first =
        disposition == OPEN_ALWAYS ? OPEN_EXISTING : disposition;
    fd = OpenHost(host, access, share, first, &existed, &open_id, &size);
    std::string other;
    if (fd < 0 && errno == ENOENT) {
      if (OtherSpelling(path, host, &other)) {
        host = std::move(other);
        fd = OpenHost(host, access, share, disposition, &existed, &open_id,
                      &size);
      } else if (disposition == OPEN_ALWAYS) {
        fd = OpenHost(host, access, share, disposition, &existed, &open_id,
                      &size);
      }
    }
  } else {
    fd = OpenHost(host, access, share, disposition, &existed, &open_id, &size);
  }
  if (fd < 0) {
    const int why = errno;
    struct stat st;
    if (why == EBUSY) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
    if (why == ENOENT) {
      return Fail(MissingPathError(host));
    }
    if (why == EEXIST) {
      // CREATE_NEW on a taken name; a folder there is refused as a folder.
      const bool folder = stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      return Fail(folder ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
    }
    return Fail(ErrorFromErrno(why));
  }
  HANDLE handle =
      AddHandle(std::make_shared<OpenFile>(fd, host, access, open_id, size));
  bool existed_note =
      existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
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

namespace mms::platform {

HANDLE OpenForReading(const wchar_t* path, bool create_missing,
                      uint64_t* size) {
  HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              create_missing ? OPEN_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return handle;
  }
  std::shared_ptr<OpenFile> open_file = LookupHandle<OpenFile>(handle);
  if (open_file != nullptr && open_file->size_at_open() >= 0) {
    *size = static_cast<uint64_t>(open_file->size_at_open());
    return handle;
  }
  DWORD high = 0;  // the open did not look (not expected)
  const DWORD low = GetFileSize(handle, &high);
  *size = uint64_t{high} << 32 | low;
  return handle;
}

bool ReadExactly(HANDLE file, void* into, size_t size) {
  std::shared_ptr<OpenFile> open_file =
      UsableFile(file, GENERIC_READ, into, size);
  if (open_file == nullptr) {
    return false;
  }
  // One call with a spare byte: a regular file's read stops short only at
  // its end, so a spare byte left unfilled means exactly `size` bytes, and
  // a filled one a file that grew since it was measured.
  size_t done = 0;
  unsigned char spare = 0;
  for (;;) {
    iovec parts[2] = {{static_cast<char*>(into) + done, size - done},
                      {&spare, 1}};
    const ssize_t n = ::readv(open_file->fd(), parts, 2);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      SetLastError(ErrorFromErrno(errno));
      return false;
    }
    const size_t left = size - done;
    if (static_cast<size_t>(n) == left) {
      return true;
    }
    if (n == 0 || static_cast<size_t>(n) > left) {
      SetLastError(ERROR_INVALID_PARAMETER);  // fewer or more than measured
      return false;
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace mms::platform

BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read,
              void* /*overlapped*/) {
  if (read != nullptr) {
    *read = 0;
  }
  std::shared_ptr<OpenFile> open_file =
      mms::platform::UsableFile(file, GENERIC_READ, buffer, to_read);
  if (open_file == nullptr) {
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
  std::shared_ptr<OpenFile> open_file =
      mms::platform::UsableFile(file, GENERIC_WRITE, buffer, to_write);
  if (open_file == nullptr) {
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
