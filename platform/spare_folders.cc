// spare_folders.cc: the pool of emptied folders.
//
// Each spare remembers its host path and the device root it was kept
// under, so it can be removed after the root changed and is never handed
// out under another root. A spare is not looked at when it is handed out:
// one removed behind the process shows when the taker's first file in it
// cannot be made, and the taker then makes a new folder.
#include "platform/spare_folders.h"

#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/device_fs.h"

namespace mms::platform {
namespace {

constexpr size_t kMaxSpareFolders = 4;

struct Spare {
  std::wstring parent;
  std::wstring folder;  // device path ending in "\"
  std::string host;     // host path of the folder
  std::string root;     // device root it was kept under
};

// Set in a forked child: the spares are its parent's.
std::atomic<bool> forked{false};

struct Pool {
  std::mutex mu;
  std::vector<Spare> spares;  // guarded by mu
  bool exiting = false;       // guarded by mu
};

void RemoveAll(std::vector<Spare>* spares) {
  for (const Spare& spare : *spares) {
    rmdir(spare.host.c_str());
  }
  spares->clear();
}

void RemoveAtExit();

// Never destroyed: records may be released while the process exits.
Pool& ThePool() {
  static Pool* pool = [] {
    pthread_atfork(nullptr, nullptr, [] { forked.store(true); });
    atexit(RemoveAtExit);
    return new Pool;
  }();
  return *pool;
}

// Under the pool's lock: a forked child drops what its parent kept.
void ForgetIfForked(Pool& pool) {
  if (forked.exchange(false)) {
    pool.spares.clear();
  }
}

void RemoveAtExit() {
  Pool& pool = ThePool();
  std::vector<Spare> spares;
  {
    std::lock_guard<std::mutex> lock(pool.mu);
    ForgetIfForked(pool);
    pool.exiting = true;
    spares.swap(pool.spares);
  }
  RemoveAll(&spares);
}

}  // namespace

bool KeepSpareFolder(const std::wstring& parent, const std::wstring& folder) {
  Spare spare{parent, folder, std::string(), DeviceRoot()};
  if (!DeviceToHostPathAsGiven(folder, &spare.host)) {
    return false;
  }
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mu);
  ForgetIfForked(pool);
  if (pool.exiting || pool.spares.size() >= kMaxSpareFolders) {
    return false;
  }
  pool.spares.push_back(std::move(spare));
  return true;
}

bool TakeSpareFolder(const std::wstring& parent, std::wstring* folder) {
  // Asked first: a root found changed removes the spares of the old one.
  const std::string root = DeviceRoot();
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mu);
  ForgetIfForked(pool);
  for (auto it = pool.spares.rbegin(); it != pool.spares.rend(); ++it) {
    if (it->parent == parent && it->root == root) {
      *folder = std::move(it->folder);
      pool.spares.erase(std::next(it).base());
      return true;
    }
  }
  return false;
}

void RemoveSpareFolders() {
  Pool& pool = ThePool();
  std::vector<Spare> spares;
  {
    std::lock_guard<std::mutex> lock(pool.mu);
    ForgetIfForked(pool);
    spares.swap(pool.spares);
  }
  RemoveAll(&spares);
}

}  // namespace mms::platform
