// heap.cc: LocalAlloc / LocalFree, the heap for blocks that cross the
// interface.
//
// Blocks come from malloc/calloc, so a receiver may hand them to LocalFree
// from any thread. Requests above kMaxBlockBytes are refused as out of
// memory: a length that large can only come from a corrupted PDU field, and
// refusing it keeps the sanitizers' allocator from aborting the process.
#include <cstdlib>

#include "platform/winapi.h"

namespace {

constexpr size_t kMaxBlockBytes = size_t{256} * 1024 * 1024;

}  // namespace

extern "C" HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  if (bytes > kMaxBlockBytes) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A zero-byte request still yields a distinct block, as on the phone.
  size_t size = bytes == 0 ? 1 : bytes;
  void* block =
      (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return block;
}

extern "C" HLOCAL LocalFree(HLOCAL block) {
  std::free(block);
  return nullptr;
}
