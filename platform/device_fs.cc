// device_fs.cc: the device root and the mapping of device paths to host
// paths.
//
// Root: $MMS_DEVICE_ROOT, else $XDG_DATA_HOME/mms-device, else
// ~/.local/share/mms-device (SetDeviceRoot overrides all three). A root
// that does not exist, or an empty folder made for it, is laid out with
// "\Windows\Messaging", "\Temp" and "\program files\Varnholt"; a root in
// use is never laid out again, so a folder removed from it stays removed.
// Each device path component takes the spelling of an existing host entry
// (exact match first, then one that differs only in letter case, found in
// the folder's name index, see folder_index.cc); "." and
// ".." are refused outright, so no device path reaches outside the root.
//
// Folders once resolved are remembered: every spelling of a folder maps to
// its host folder without touching the disk. The memory is dropped when the
// root changes (another path, or a new folder at that path found once the
// old one went missing), when it is full, and by ForgetDevicePaths after a
// remembered folder went missing; the spare folders (spare_folders.h) go
// with it, except when it is full.
#include "platform/device_fs.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/folder_index.h"
#include "platform/spare_folders.h"
#include "platform/text_convert.h"

namespace fs = std::filesystem;

namespace mms::platform {
namespace {

constexpr size_t kMaxFolders = 256;  // remembered folders per root

struct PathCache {
  std::mutex mu;
  std::string override_root;  // guarded by mu; empty: environment
  std::string root;           // guarded by mu; the root the entries belong to
  dev_t root_dev = 0;         // guarded by mu; identity of that root folder
  ino_t root_ino = 0;         // guarded by mu
  bool root_ready = false;    // guarded by mu; root checked and laid out
  // Case-folded device folder ("temp\\mmsdecode") -> host folder; guarded
  // by mu.
  std::unordered_map<std::wstring, std::string> folders;
};

// Never destroyed: detached threads may resolve paths while the process
// exits.
PathCache& Cache() {
  static PathCache* cache = new PathCache;
  return *cache;
}

std::string RootFromEnvironment() {
  const char* root = getenv("MMS_DEVICE_ROOT");
  if (root != nullptr && root[0] != '\0') {
    return root;
  }
  const char* data = getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] != '\0') {
    return std::string(data) + "/mms-device";
  }
  const char* home = getenv("HOME");
  std::string base = home != nullptr && home[0] != '\0' ? home : ".";
  return base + "/.local/share/mms-device";
}

void LayOut(const fs::path& root) {
  std::error_code ignored;
  fs::create_directories(root / "Windows" / "Messaging", ignored);
  fs::create_directories(root / "Temp", ignored);
  fs::create_directories(root / "program files" / "Varnholt", ignored);
}

// Splits on "\" (and "/", which the phone also accepts); empty components
// from doubled or leading separators are dropped.
std::vector<std::wstring> SplitDevicePath(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (wchar_t c : path) {
    if (c == L'\\' || c == L'/') {
      if (!current.empty()) {
        parts.push_back(current);
      }
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) {
    parts.push_back(current);
  }
  return parts;
}

// The host spelling of one component inside folder dir: the exact name when
// it exists, else an entry that differs only in letter case. Both come from
// the folder's name index, which costs no path lookup; without one, the
// exact name is looked up and the folder listed when it is missing.
std::string MatchComponent(const std::string& dir, const std::wstring& wanted,
                           const std::string& wanted_utf8) {
  std::string found;
  if (IndexedName(dir, wanted, wanted_utf8, &found)) {
    return found.empty() ? wanted_utf8 : found;
  }
  std::string exact = dir + "/" + wanted_utf8;
  struct stat st;
  if (lstat(exact.c_str(), &st) == 0) {
    return wanted_utf8;
  }
  return FindByCase(dir, wanted, &found) ? found : wanted_utf8;
}

void AppendFolded(const std::wstring& part, std::wstring* key) {
  if (!key->empty()) {
    *key += L'\\';
  }
  for (wchar_t c : part) {
    *key += FoldCase(c);
  }
}

// Lays out a new or empty root; gives the root folder's identity.
bool PrepareRoot(const std::string& root, struct stat* st) {
  std::error_code ec;
  if (!fs::exists(root, ec)) {
    fs::create_directories(root, ec);
    if (!ec) {
      LayOut(root);
    }
  } else if (fs::is_empty(root, ec) && !ec) {
    LayOut(root);  // a folder the user made for the device
  }
  return stat(root.c_str(), st) == 0;
}

}  // namespace

std::string DeviceRoot() {
  PathCache& cache = Cache();
  std::string root;
  {
    std::lock_guard<std::mutex> lock(cache.mu);
    root = cache.override_root;
  }
  if (root.empty()) {
    root = RootFromEnvironment();
  }
  // A root in use is taken as it is: a root removed or replaced behind us
  // makes the path call fail with ERROR_PATH_NOT_FOUND, which forgets it
  // (ForgetDevicePaths) and runs the call once more.
  {
    std::lock_guard<std::mutex> lock(cache.mu);
    if (cache.root_ready && cache.root == root) {
      return root;
    }
  }
  struct stat st;
  const bool present = PrepareRoot(root, &st);
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(cache.mu);
    changed = cache.root != root || !present || cache.root_dev != st.st_dev ||
              cache.root_ino != st.st_ino;
    if (changed) {
      cache.folders.clear();
      ForgetFolderNames();
      cache.root = root;
      cache.root_dev = present ? st.st_dev : 0;
      cache.root_ino = present ? st.st_ino : 0;
    }
    cache.root_ready = present;
  }
  if (changed) {
    RemoveSpareFolders();
  }
  return root;
}

void SetDeviceRoot(const std::string& host_path) {
  RemoveSpareFolders();
  PathCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mu);
  cache.override_root = host_path;
  cache.root_ready = false;
  cache.folders.clear();
  ForgetFolderNames();
}

bool ForgetDevicePaths() {
  RemoveSpareFolders();
  PathCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mu);
  bool had = cache.root_ready || !cache.folders.empty();
  cache.root_ready = false;
  cache.folders.clear();
  ForgetFolderNames();
  return had;
}

namespace {

bool ResolvePath(const std::wstring& device_path, bool match_last,
                 std::string* host_path) {
  std::vector<std::wstring> parts = SplitDevicePath(device_path);
  for (const std::wstring& part : parts) {
    if (part == L"." || part == L".." ||
        part.find(L'\0') != std::wstring::npos) {
      return false;
    }
  }
  const std::string root = DeviceRoot();
  PathCache& cache = Cache();
  // The deepest remembered folder on the way.
  std::string host = root;
  while (host.size() > 1 && host.back() == '/') {
    host.pop_back();
  }
  size_t known = 0;
  std::wstring key;
  std::vector<std::wstring> keys;
  keys.reserve(parts.size());
  for (const std::wstring& part : parts) {
    AppendFolded(part, &key);
    keys.push_back(key);
  }
  {
    // The deepest remembered folder is looked up first: mostly the path's
    // own folder, found at once.
    std::lock_guard<std::mutex> lock(cache.mu);
    for (size_t i = parts.size(); i > 0 && cache.root == root; --i) {
      auto it = cache.folders.find(keys[i - 1]);
      if (it != cache.folders.end()) {
        host = it->second;
        known = i;
        break;
      }
    }
  }
  bool matching = true;  // false once a component does not exist
  for (size_t i = known; i < parts.size(); ++i) {
    std::string utf8;
    if (!WideToUtf8Text(parts[i], &utf8)) {
      return false;
    }
    const bool last = i + 1 == parts.size();
    std::string name = matching && (match_last || !last)
                           ? MatchComponent(host, parts[i], utf8)
                           : utf8;
    host += '/';
    host += name;
    if (!matching || i + 1 == parts.size()) {
      continue;
    }
    struct stat st;
    matching = stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (matching) {
      std::lock_guard<std::mutex> lock(cache.mu);
      if (cache.root == root) {
        if (cache.folders.size() >= kMaxFolders) {
          cache.folders.clear();
        }
        cache.folders.emplace(keys[i], host);
      }
    }
  }
  *host_path = std::move(host);
  return true;
}

}  // namespace

bool DeviceToHostPath(const std::wstring& device_path, std::string* host_path) {
  return ResolvePath(device_path, true, host_path);
}

bool DeviceToHostPathAsGiven(const std::wstring& device_path,
                             std::string* host_path) {
  return ResolvePath(device_path, false, host_path);
}

bool DeviceFolderEntries(const std::wstring& device_folder, size_t at_least,
                         std::string* host_folder,
                         std::vector<std::string>* names) {
  return DeviceToHostPath(device_folder, host_folder) &&
         FolderEntries(*host_folder, at_least, names);
}

}  // namespace mms::platform
