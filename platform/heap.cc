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
#include "platform/heap.h"

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

// A block with its prefix: listed in the live set or not.
HLOCAL Allocate(UINT flags, size_t bytes, bool listed) {
  if (bytes > kMaxBlockBytes) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A zero-byte request still yields a distinct block, as on the phone.
  const size_t total = kPrefixBytes + (bytes == 0 ? 1 : bytes);
  void* raw =
      (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, total) : std::malloc(total);
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
    std::free(PrefixOf(block));
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
