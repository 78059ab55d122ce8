// decode_folder.cc: the decode folder's bound.
//
// Each process records the names of the message it decoded last in
// "\Temp\MMSOpenedLast\<process id>", one UTF-8 name a line, replaced whole
// by a rename. A sweep spares the names recorded by every process still
// running and removes the records of processes that have ended. The folder
// is counted from its name index, so a decode below the bound lists
// nothing; after a sweep that could not get down to the bound (young or
// spared files), the next waits until the folder has grown by
// kDecodeFolderSweepAbove - kDecodeFolderKeep entries, so such files are
// not looked through at every decode.
#include "store/decode_folder.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <unordered_set>

#include "codec/decode/part_name.h"
#include "platform/device_fs.h"
#include "platform/folder_index.h"
#include "platform/text_convert.h"
#include "platform/winapi.h"
#include "store/store.h"

namespace mms::store {
namespace {

constexpr wchar_t kRecordFolder[] = L"\\Temp\\MMSOpenedLast";

using NameSet = std::unordered_set<std::wstring>;

std::wstring Folded(const std::wstring& name) {
  std::wstring folded;
  folded.reserve(name.size());
  for (wchar_t c : name) {
    folded += mms::platform::FoldCase(c);
  }
  return folded;
}

// The caller holds the mutex of KeepDecodeFolderBounded.
void RecordLastMessage(const std::vector<std::wstring>& names) {
  static std::vector<std::wstring> recorded;  // what the record holds
  std::string folder;
  if (!mms::platform::DeviceToHostPath(kRecordFolder, &folder)) {
    return;
  }
  const std::string record = folder + "/" + std::to_string(getpid());
  struct stat st;
  if (names == recorded && stat(record.c_str(), &st) == 0) {
    return;  // the same message opened again
  }
  recorded.clear();
  (void)mkdir(folder.c_str(), 0755);  // EEXIST after the first time
  const std::string temporary = record + ".new";
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  std::string utf8;
  for (const std::wstring& name : names) {
    if (mms::platform::WideToUtf8Text(name, &utf8)) {
      out << utf8 << '\n';
    }
  }
  out.close();
  if (!out || rename(temporary.c_str(), record.c_str()) != 0) {
    (void)unlink(temporary.c_str());
  } else {
    recorded = names;
  }
}

// The names other running processes decoded last; records of processes
// that have ended are removed.
void AddOthersLastMessages(NameSet* spared) {
  std::string folder;
  std::vector<std::string> records;
  if (!mms::platform::DeviceFolderEntries(kRecordFolder, 0, &folder,
                                          &records)) {
    return;
  }
  for (const std::string& record : records) {
    char* end = nullptr;
    const long pid = strtol(record.c_str(), &end, 10);
    if (end == record.c_str() || *end != '\0' || pid == getpid()) {
      continue;  // a record being replaced, or ours (given by the caller)
    }
    const std::string path = folder + "/" + record;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      (void)unlink(path.c_str());
      continue;
    }
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::wstring wide;
    while (std::getline(in, line)) {
      if (mms::platform::Utf8ToWideText(line, &wide)) {
        spared->insert(Folded(wide));
      }
    }
  }
}

// Removes the oldest files old enough until kDecodeFolderKeep entries
// remain; gives the entries left.
size_t Sweep(const std::string& folder, const std::vector<std::string>& names,
             const NameSet& spared) {
  const time_t newest_removable = time(nullptr) - kDecodeFolderMinAgeSeconds;
  struct Candidate {
    timespec modified;
    std::wstring name;
  };
  std::vector<Candidate> old;
  std::wstring wide;
  for (const std::string& name : names) {
    struct stat st;
    if (!mms::platform::Utf8ToWideText(name, &wide) ||
        spared.count(Folded(wide)) != 0 ||
        lstat((folder + "/" + name).c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode) || st.st_mtime > newest_removable) {
      continue;
    }
    old.push_back(Candidate{st.st_mtim, wide});
  }
  std::sort(old.begin(), old.end(), [](const Candidate& a, const Candidate& b) {
    return a.modified.tv_sec != b.modified.tv_sec
               ? a.modified.tv_sec < b.modified.tv_sec
               : a.modified.tv_nsec < b.modified.tv_nsec;
  });
  size_t left = names.size();
  for (const Candidate& file : old) {
    if (left <= kDecodeFolderKeep) {
      break;
    }
    if (DeleteFileW((std::wstring(codec::kDecodeFolder) + file.name).c_str())) {
      --left;
    }
  }
  return left;
}

}  // namespace

void KeepDecodeFolderBounded(const std::vector<std::wstring>& names) {
  static std::mutex mu;
  static size_t next_sweep = kDecodeFolderSweepAbove;  // guarded by mu
  std::lock_guard<std::mutex> hold(mu);
  RecordLastMessage(names);
  std::string folder;
  std::vector<std::string> entries;
  if (!mms::platform::DeviceFolderEntries(codec::kDecodeFolder, next_sweep + 1,
                                          &folder, &entries) ||
      entries.empty()) {
    return;
  }
  NameSet spared;
  for (const std::wstring& name : names) {
    spared.insert(Folded(name));
  }
  AddOthersLastMessages(&spared);
  const size_t left = Sweep(folder, entries, spared);
  next_sweep = std::max(kDecodeFolderSweepAbove,
                        left + kDecodeFolderSweepAbove - kDecodeFolderKeep);
}

}  // namespace mms::store
