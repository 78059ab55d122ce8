// heap.h: what the heap knows beyond the calls of winapi.h.
#ifndef MMS_PLATFORM_HEAP_H_
#define MMS_PLATFORM_HEAP_H_

#include <cstddef>

#include "platform/winapi.h"

// True when block is the start of a LocalAlloc block not yet freed.
bool IsLiveBlock(const void* block);

// A block as LocalAlloc gives (freed by LocalFree, sized by LocalSize)
// that IsLiveBlock does not know, so it costs no lock: for the decoders'
// own text fields, which are never read as a PDU.
HLOCAL LocalAllocUnlisted(UINT flags, size_t bytes);

#endif  // MMS_PLATFORM_HEAP_H_
