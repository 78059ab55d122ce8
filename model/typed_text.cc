// typed_text.cc: one folder per message record for its typed text.
//
// Folder names are the process id, a counter and a random number, and the
// folder is created exclusively, so a name that is taken (a folder left by
// a process that was killed, or a clash) is simply drawn again. A folder
// emptied by a released record of this process may be handed to the next
// record instead; one removed behind the process since is replaced by a
// new folder when the record's first file cannot be made in it.
#include "model/typed_text.h"

#include <wchar.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>

#include "model/record_limits.h"
#include "platform/spare_folders.h"

namespace mms::model {
namespace {

constexpr int kFolderAttempts = 64;

struct Folder {
  std::wstring path;    // device path ending in "\"
  uint32_t slides = 0;  // bit i: tempTxt<i>.txt may exist there
};

struct Folders {
  std::mutex mu;
  std::map<const MMS_Custom_Data*, Folder> by_record;  // guarded by mu
};

// Never destroyed: records may be deleted while the process exits.
Folders& GetFolders() {
  static Folders* folders = new Folders;
  return *folders;
}

unsigned FreshNumber() {
  static std::mutex mu;
  static std::mt19937 engine{std::random_device{}()};
  std::lock_guard<std::mutex> hold(mu);
  return static_cast<unsigned>(engine());
}

// "\Temp" and kTypedTextRoot are made only when the record's folder cannot
// be made for want of them, not before every record.
bool MakeFolder(std::wstring* folder) {
  static std::atomic<unsigned> counter{0};
  bool parents_made = false;
  for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
    wchar_t path[MAX_PATH];
    swprintf(path, MAX_PATH, L"%ls\\%u-%u-%u", kTypedTextRoot,
             unsigned{GetCurrentProcessId()}, counter++, FreshNumber());
    if (CreateDirectoryW(path, nullptr)) {
      *folder = std::wstring(path) + L"\\";
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND && !parents_made) {
      CreateDirectoryW(L"\\Temp", nullptr);
      CreateDirectoryW(kTypedTextRoot, nullptr);
      parents_made = true;
    } else if (error != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return false;
}

// The record's folder, noting that slide writes its text there. When the
// record has none, a spare is taken or a folder made; with `replace` (its
// spare was removed behind the process) one is made. *spare tells a folder
// just taken from the spares.
bool FolderFor(const MMS_Custom_Data* record, int slide, bool replace,
               std::wstring* folder, bool* spare) {
  const uint32_t bit = uint32_t{1} << slide;
  Folders& folders = GetFolders();
  *spare = false;
  if (!replace) {
    std::lock_guard<std::mutex> lock(folders.mu);
    auto it = folders.by_record.find(record);
    if (it != folders.by_record.end()) {
      it->second.slides |= bit;
      *folder = it->second.path;
      return true;
    }
  }
  *spare = !replace && platform::TakeSpareFolder(kTypedTextRoot, folder);
  if (!*spare && !MakeFolder(folder)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(folders.mu);
  folders.by_record[record] = Folder{*folder, bit};
  return true;
}

}  // namespace

HANDLE CreateTypedTextFile(const MMS_Custom_Data* record, int slide,
                           std::wstring* path) {
  bool replace = false;
  for (;;) {
    std::wstring folder;
    bool spare = false;
    if (!FolderFor(record, slide, replace, &folder, &spare)) {
      return INVALID_HANDLE_VALUE;
    }
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%lstempTxt%d.txt", folder.c_str(), slide);
    *path = name;
    HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || !spare ||
        GetLastError() != ERROR_PATH_NOT_FOUND) {
      return file;
    }
    replace = true;
  }
}

void ForgetTypedText(const MMS_Custom_Data* record) {
  Folder folder;
  {
    Folders& folders = GetFolders();
    std::lock_guard<std::mutex> lock(folders.mu);
    auto it = folders.by_record.find(record);
    if (it == folders.by_record.end()) {
      return;
    }
    folder = std::move(it->second);
    folders.by_record.erase(it);
  }
  // Only the slides that got text: deleting a name that was never written
  // would make the file system look for other spellings of it.
  bool emptied = true;
  for (int slide = 0; slide < kMaxSlides; ++slide) {
    if ((folder.slides & (uint32_t{1} << slide)) == 0) {
      continue;
    }
    wchar_t path[MAX_PATH];
    swprintf(path, MAX_PATH, L"%lstempTxt%d.txt", folder.path.c_str(), slide);
    if (!DeleteFileW(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
      emptied = false;
    }
  }
  if (emptied && platform::KeepSpareFolder(kTypedTextRoot, folder.path)) {
    return;
  }
  folder.path.pop_back();  // the trailing "\"
  RemoveDirectoryW(folder.path.c_str());
}

}  // namespace mms::model
