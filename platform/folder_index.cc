// folder_index.cc: per-folder name sets, each filled by one listing and
// then kept current by inotify, so a new file name costs no listing however
// many entries its folder holds.
//
// The watch is set before the listing, so no change falls between them;
// replaying a notice for a change the listing already shows is harmless.
// Our own creates, renames and deletes arrive as notices like anybody
// else's. A folder moved or removed, a lost notice (queue overflow), a
// forked child (which must not read its parent's notices), or more than
// kMaxFolders folders drop what is known; without inotify every lookup
// lists its folder, as before.
#include "platform/folder_index.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <locale.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <wctype.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/seam_state.h"
#include "platform/text_convert.h"

namespace mms::platform {
namespace {

constexpr size_t kMaxFolders = 64;
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR;

// Case-folded name -> host name (several host names may fold alike).
using Names = std::unordered_multimap<std::wstring, std::string>;

struct Folder {
  std::string path;
  Names names;
};

// Set in a forked child, which must not read its parent's notices
// (cheaper than asking for the process id at every lookup).
std::atomic<bool> forked{false};

struct Index {
  std::mutex mu;
  int fd = -1;  // guarded by mu; the inotify instance
  std::unordered_map<std::string, int> by_path;  // guarded by mu
  std::unordered_map<int, Folder> by_watch;      // guarded by mu
};

// Never destroyed: detached threads may resolve paths while the process
// exits.
Index& TheIndex() {
  static Index* index = [] {
    pthread_atfork(nullptr, nullptr, [] { forked.store(true); });
    return new Index;
  }();
  return *index;
}

bool FoldedKey(const char* name, std::wstring* key) {
  key->clear();
  for (const char* p = name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80) {
      if (!Utf8ToWideText(name, key)) {
        return false;
      }
      for (wchar_t& w : *key) {
        w = FoldCase(w);
      }
      return true;
    }
    key->push_back(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return true;
}

void AddName(Names* names, const char* name) {
  std::wstring key;
  if (!FoldedKey(name, &key)) {
    return;  // not UTF-8: no device name reaches it
  }
  auto range = names->equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == name) {
      return;
    }
  }
  names->emplace(std::move(key), name);
}

void RemoveName(Names* names, const char* name) {
  std::wstring key;
  if (!FoldedKey(name, &key)) {
    return;
  }
  auto range = names->equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == name) {
      names->erase(it);
      return;
    }
  }
}

bool List(const std::string& dir, Names* names) {
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) {
    return false;
  }
  while (const dirent* entry = readdir(listing)) {
    seams::directory_entries_read.fetch_add(1, std::memory_order_relaxed);
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      AddName(names, entry->d_name);
    }
  }
  closedir(listing);
  return true;
}

void Reset(Index& index) {
  if (index.fd >= 0) {
    close(index.fd);
  }
  index.fd = -1;
  index.by_path.clear();
  index.by_watch.clear();
}

// remove_watch: false when the kernel already removed the watch (the
// folder was deleted or unmounted).
void Drop(Index& index, int wd, bool remove_watch = true) {
  auto it = index.by_watch.find(wd);
  if (it != index.by_watch.end()) {
    index.by_path.erase(it->second.path);
    index.by_watch.erase(it);
    if (remove_watch) {
      inotify_rm_watch(index.fd, wd);
    }
  }
}

// An inotify instance of this process; false when none can be made.
bool Ready(Index& index) {
  if (forked.exchange(false) && index.fd >= 0) {
    Reset(index);  // a forked child: the parent's notices are not ours
  }
  if (index.fd < 0) {
    index.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  return index.fd >= 0;
}

// Applies every notice queued so far; false when what is known was lost.
bool Drain(Index& index) {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = read(index.fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0 && errno == EAGAIN) {
      return true;
    }
    if (got <= 0) {
      Reset(index);
      return false;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        Reset(index);
        return false;
      }
      auto it = index.by_watch.find(event->wd);
      if (it == index.by_watch.end()) {
        continue;
      }
      if ((event->mask &
           (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) {
        Drop(index, event->wd, (event->mask & IN_MOVE_SELF) != 0);
      } else if (event->len == 0) {
        continue;
      } else if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
        AddName(&it->second.names, event->name);
      } else if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
        RemoveName(&it->second.names, event->name);
      }
    }
    // A read that left room for another notice took every notice queued
    // before it; one queued since is no older than this lookup.
    if (sizeof(buffer) - static_cast<size_t>(got) >=
        sizeof(inotify_event) + NAME_MAX + 1) {
      return true;
    }
  }
}

// The current names of dir, listing it once; null without inotify.
const Names* Watched(Index& index, const std::string& dir) {
  if (!Ready(index) || (!Drain(index) && !Ready(index))) {
    return nullptr;
  }
  auto known = index.by_path.find(dir);
  if (known != index.by_path.end()) {
    return &index.by_watch[known->second].names;
  }
  if (index.by_watch.size() >= kMaxFolders) {
    Reset(index);
    if (!Ready(index)) {
      return nullptr;
    }
  }
  const int wd = inotify_add_watch(index.fd, dir.c_str(), kWatchMask);
  if (wd < 0) {
    return nullptr;
  }
  auto same = index.by_watch.find(wd);  // known under another path
  if (same != index.by_watch.end()) {
    index.by_path.erase(same->second.path);
    index.by_watch.erase(same);
  }
  auto slot = index.by_watch.emplace(wd, Folder{dir, Names()}).first;
  if (!List(dir, &slot->second.names)) {
    index.by_watch.erase(slot);
    inotify_rm_watch(index.fd, wd);
    return nullptr;
  }
  index.by_path[dir] = wd;
  return &slot->second.names;
}

}  // namespace

wchar_t FoldCase(wchar_t c) {
  if (c < 0x80) {
    return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;  // no table needed
  }
  // C.UTF-8 knows the non-ASCII letters, the plain C locale only ASCII.
  static locale_t folding = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (folding != nullptr) {
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), folding));
  }
  return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;
}

namespace {

std::wstring FoldedWide(const std::wstring& wanted) {
  std::wstring key;
  key.reserve(wanted.size());
  for (wchar_t c : wanted) {
    key += FoldCase(c);
  }
  return key;
}

}  // namespace

bool IndexedName(const std::string& dir, const std::wstring& wanted,
                 const std::string& wanted_utf8, std::string* found) {
  const std::wstring key = FoldedWide(wanted);
  Index& index = TheIndex();
  std::lock_guard<std::mutex> lock(index.mu);
  const Names* names = Watched(index, dir);
  if (names == nullptr) {
    return false;
  }
  found->clear();
  auto range = names->equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == wanted_utf8) {
      *found = wanted_utf8;
      return true;
    }
  }
  if (range.first != range.second) {
    *found = range.first->second;
  }
  return true;
}

bool FindByCase(const std::string& dir, const std::wstring& wanted,
                std::string* found) {
  const std::wstring key = FoldedWide(wanted);
  Index& index = TheIndex();
  {
    std::lock_guard<std::mutex> lock(index.mu);
    if (const Names* names = Watched(index, dir)) {
      auto it = names->find(key);
      if (it == names->end()) {
        return false;
      }
      *found = it->second;
      return true;
    }
  }
  Names names;  // no change notices: list the folder this once
  if (!List(dir, &names)) {
    return false;
  }
  auto it = names.find(key);
  if (it == names.end()) {
    return false;
  }
  *found = it->second;
  return true;
}

bool FolderEntries(const std::string& dir, size_t at_least,
                   std::vector<std::string>* names) {
  Names listed;
  const Names* current = &listed;
  Index& index = TheIndex();
  std::unique_lock<std::mutex> lock(index.mu);
  if (const Names* watched = Watched(index, dir)) {
    current = watched;
  } else {
    lock.unlock();
    if (!List(dir, &listed)) {
      return false;
    }
  }
  names->clear();
  if (current->size() < at_least) {
    return true;
  }
  names->reserve(current->size());
  for (const auto& entry : *current) {
    names->push_back(entry.second);
  }
  return true;
}

void ForgetFolderNames() {
  Index& index = TheIndex();
  std::lock_guard<std::mutex> lock(index.mu);
  Reset(index);
}

namespace seams {
std::atomic<uint64_t> directory_entries_read{0};
}  // namespace seams

}  // namespace mms::platform
