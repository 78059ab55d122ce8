// heap.cc: LocalAlloc / LocalFree / LocalSize, the heap for blocks that
// cross the interface.
//
// Each block comes from malloc/calloc with its size kept in front of it,
// so LocalSize can tell how much a block holds (the message record derives
// the capacity of its file-name array from it) and a receiver may hand it
// to LocalFree from any thread. Requests above kMaxBlockBytes are refused
// as out of memory: a length that large can only come from a corrupted PDU
// field, and refusing it keeps the sanitizers' allocator from aborting.
//
// The heap also knows its live blocks (an open-addressing set under one
// lock), so a length-less decoder given the start of a block reads no
// further than the block holds. The lock is a spin lock held for a few
// instructions, and each block's prefix remembers its slot, so freeing it
// looks nothing up. The decoders' own text fields are never read as a
// PDU: they are not listed (LocalAllocUnlisted) and cost no lock at all,
// which keeps the set out of the parse of every message.
//
// Large blocks (a PDU, a whole file) would go back to the kernel when
// freed, so the next one touched fresh pages, a page fault each. The few
// large blocks freed last are kept and handed out again to an uncleared
// request they fit without wasting more than half (see KeptBlocks).
#include "platform/heap.h"

#include <malloc.h>
#include <sanitizer/asan_interface.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/winapi.h"

namespace {

constexpr size_t kMaxBlockBytes = size_t{256} * 1024 * 1024;
// The size and the block's slot in the live set sit in a prefix as wide
// as malloc's alignment, so the block handed out keeps that alignment.
constexpr size_t kPrefixBytes = alignof(std::max_align_t);
struct Prefix {
  size_t size;
  uint32_t slot;    // index in the live set, kept up to date under its lock
  uint32_t listed;  // 1 when the block is in the live set; set once
};
static_assert(kPrefixBytes >= sizeof(Prefix), "prefix holds size and slot");

Prefix* PrefixOf(const void* block) {
  return reinterpret_cast<Prefix*>(
      const_cast<unsigned char*>(static_cast<const unsigned char*>(block)) -
      kPrefixBytes);
}

// Held for a few instructions (a rehash is rare), so waiting threads spin,
// yielding the processor between looks.
class SpinLock {
 public:
  void lock() {
    while (held_.exchange(true, std::memory_order_acquire)) {
      while (held_.load(std::memory_order_relaxed)) {
        std::this_thread::yield();
      }
    }
  }
  void unlock() { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

// Addresses of the blocks LocalAlloc handed out and LocalFree has not yet
// taken back. Slots hold an address, 0 (empty) or 1 (removed).
class LiveBlocks {
 public:
  // block is a LocalAlloc block whose prefix gets the slot.
  void Add(const void* block) {
    std::lock_guard<SpinLock> lock(lock_);
    if ((used_ + 1) * 2 > slots_.size()) {
      Rehash();
    }
    size_t i = Home(block);
    while (slots_[i] > kRemoved) {
      i = (i + 1) & (slots_.size() - 1);
    }
    used_ += slots_[i] == kEmpty ? 1 : 0;
    slots_[i] = reinterpret_cast<uintptr_t>(block);
    PrefixOf(block)->slot = static_cast<uint32_t>(i);
  }
  void Remove(const void* block) {
    std::lock_guard<SpinLock> lock(lock_);
    const size_t i = PrefixOf(block)->slot;
    if (i < slots_.size() && slots_[i] == reinterpret_cast<uintptr_t>(block)) {
      slots_[i] = kRemoved;
    }
  }
  bool Contains(const void* block) {
    std::lock_guard<SpinLock> lock(lock_);
    return Find(block) != kNone;
  }

 private:
  static constexpr uintptr_t kEmpty = 0;
  static constexpr uintptr_t kRemoved = 1;
  static constexpr size_t kNone = SIZE_MAX;

  size_t Home(const void* block) const {
    const uint64_t key = reinterpret_cast<uintptr_t>(block) >> 4;
    return static_cast<size_t>(key * 0x9E3779B97F4A7C15ull >> 20) &
           (slots_.size() - 1);
  }
  size_t Find(const void* block) const {
    if (slots_.empty()) {
      return kNone;
    }
    const uintptr_t key = reinterpret_cast<uintptr_t>(block);
    for (size_t i = Home(block);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i] == key) {
        return i;
      }
      if (slots_[i] == kEmpty) {
        return kNone;
      }
    }
  }
  void Rehash() {
    size_t live = 0;
    for (uintptr_t slot : slots_) {
      live += slot > kRemoved ? 1 : 0;
    }
    size_t capacity = 1024;
    while (capacity < (live + 1) * 4) {
      capacity *= 2;
    }
    std::vector<uintptr_t> old(capacity, kEmpty);
    old.swap(slots_);
    used_ = 0;
    for (uintptr_t slot : old) {
      if (slot > kRemoved) {
        size_t i = Home(reinterpret_cast<const void*>(slot));
        while (slots_[i] != kEmpty) {
          i = (i + 1) & (slots_.size() - 1);
        }
        slots_[i] = slot;
        PrefixOf(reinterpret_cast<const void*>(slot))->slot =
            static_cast<uint32_t>(i);
        ++used_;
      }
    }
  }

  SpinLock lock_;
  std::vector<uintptr_t> slots_;  // size a power of two
  size_t used_ = 0;               // slots not empty
};

// Never destroyed: blocks may be freed while the process exits.
LiveBlocks& Live() {
  static LiveBlocks* live = new LiveBlocks;
  return *live;
}

// Freed blocks of kKeptMin to kKeptMax bytes, at most kKeptCount of them
// and kKeptTotal bytes in all (the latest freed), kept for the next
// uncleared request they fit. A kept block is poisoned for the address
// sanitizer until it is handed out.
class KeptBlocks {
 public:
  static constexpr size_t kKeptMin = 64 * 1024;
  static constexpr size_t kKeptMax = 2 * 1024 * 1024;
  static constexpr size_t kKeptCount = 4;
  static constexpr size_t kKeptTotal = 4 * 1024 * 1024;

  // A kept block of at least total bytes (and at most twice that), else
  // null.
  void* Take(size_t total) {
    if (total < kKeptMin || total > kKeptMax) {
      return nullptr;
    }
    std::lock_guard<std::mutex> lock(mu_);
    for (size_t i = 0; i < count_; ++i) {
      if (capacity_[i] >= total && capacity_[i] / 2 <= total) {
        void* raw = raw_[i];
        kept_bytes_ -= capacity_[i];
        --count_;
        for (size_t j = i; j < count_; ++j) {
          raw_[j] = raw_[j + 1];
          capacity_[j] = capacity_[j + 1];
        }
        ASAN_UNPOISON_MEMORY_REGION(raw, total);
        return raw;
      }
    }
    return nullptr;
  }
  // Keeps raw (freed by the caller otherwise: false), in place of the
  // blocks kept longest when there is no room.
  bool Keep(void* raw) {
    const size_t capacity = malloc_usable_size(raw);
    if (capacity < kKeptMin || capacity > kKeptMax) {
      return false;
    }
    std::lock_guard<std::mutex> lock(mu_);
    while (count_ > 0 &&
           (count_ == kKeptCount || kept_bytes_ + capacity > kKeptTotal)) {
      kept_bytes_ -= capacity_[0];
      std::free(raw_[0]);
      --count_;
      for (size_t i = 0; i < count_; ++i) {
        raw_[i] = raw_[i + 1];
        capacity_[i] = capacity_[i + 1];
      }
    }
    ASAN_POISON_MEMORY_REGION(raw, capacity);
    raw_[count_] = raw;
    capacity_[count_] = capacity;
    kept_bytes_ += capacity;
    ++count_;
    return true;
  }

 private:
  std::mutex mu_;
  void* raw_[kKeptCount] = {};        // guarded by mu_
  size_t capacity_[kKeptCount] = {};  // guarded by mu_
  size_t count_ = 0;                  // guarded by mu_
  size_t kept_bytes_ = 0;             // guarded by mu_
};

// Never destroyed: blocks may be freed while the process exits.
KeptBlocks& Kept() {
  static KeptBlocks* kept = new KeptBlocks;
  return *kept;
}

// A cleared request is left to calloc, which gets fresh zero pages and
// touches only what is used (the message record's large, mostly empty
// file-name array); clearing a kept block would touch every byte.
void* RawBlock(UINT flags, size_t total) {
  if ((flags & LMEM_ZEROINIT) != 0) {
    return std::calloc(1, total);
  }
  if (void* raw = Kept().Take(total)) {
    return raw;
  }
  return std::malloc(total);
}

// A block with its prefix: listed in the live set or not.
HLOCAL Allocate(UINT flags, size_t bytes, bool listed) {
  if (bytes > kMaxBlockBytes) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A zero-byte request still yields a distinct block, as on the phone.
  const size_t total = kPrefixBytes + (bytes == 0 ? 1 : bytes);
  void* raw = RawBlock(flags, total);
  if (raw == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* prefix = static_cast<Prefix*>(raw);
  prefix->size = bytes;
  prefix->listed = listed ? 1 : 0;
  unsigned char* block = static_cast<unsigned char*>(raw) + kPrefixBytes;
  if (listed) {
    Live().Add(block);
  }
  return block;
}

}  // namespace

extern "C" HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  return Allocate(flags, bytes, /*listed=*/true);
}

HLOCAL LocalAllocUnlisted(UINT flags, size_t bytes) {
  return Allocate(flags, bytes, /*listed=*/false);
}

extern "C" HLOCAL LocalFree(HLOCAL block) {
  if (block != nullptr) {
    if (PrefixOf(block)->listed != 0) {
      Live().Remove(block);
    }
    if (!Kept().Keep(PrefixOf(block))) {
      std::free(PrefixOf(block));
    }
  }
  return nullptr;
}

size_t LocalSize(HLOCAL block) {
  if (block == nullptr) {
    return 0;
  }
  return PrefixOf(block)->size;
}

bool IsLiveBlock(const void* block) {
  return block != nullptr && Live().Contains(block);
}
