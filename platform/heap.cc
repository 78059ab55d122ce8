// heap.cc: LocalAlloc / LocalFree / LocalSize, the heap for blocks that
// cross the interface.
//
// Each block comes from malloc/calloc with its size kept in front of it,
// so LocalSize can tell how much a block holds (the message record derives
// the capacity of its file-name array from it) and a receiver may hand it
// to LocalFree from any thread. Requests above kMaxBlockBytes are refused
// as out of memory: a length that large can only come from a corrupted PDU
// field, and refusing it keeps the sanitizers' allocator from aborting.
#include <cstddef>
#include <cstdlib>

#include "platform/winapi.h"

namespace {

constexpr size_t kMaxBlockBytes = size_t{256} * 1024 * 1024;
// The size sits in a prefix as wide as malloc's alignment, so the block
// handed out keeps that alignment.
constexpr size_t kPrefixBytes = alignof(std::max_align_t);
static_assert(kPrefixBytes >= sizeof(size_t), "prefix holds the size");

unsigned char* Prefix(HLOCAL block) {
  return static_cast<unsigned char*>(block) - kPrefixBytes;
}

}  // namespace

extern "C" HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  if (bytes > kMaxBlockBytes) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A zero-byte request still yields a distinct block, as on the phone.
  const size_t total = kPrefixBytes + (bytes == 0 ? 1 : bytes);
  void* raw = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, total)
                                           : std::malloc(total);
  if (raw == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  *static_cast<size_t*>(raw) = bytes;
  return static_cast<unsigned char*>(raw) + kPrefixBytes;
}

extern "C" HLOCAL LocalFree(HLOCAL block) {
  if (block != nullptr) {
    std::free(Prefix(block));
  }
  return nullptr;
}

size_t LocalSize(HLOCAL block) {
  if (block == nullptr) {
    return 0;
  }
  return *reinterpret_cast<const size_t*>(Prefix(block));
}
