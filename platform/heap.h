// heap.h: what the heap knows beyond the calls of winapi.h.
#ifndef MMS_PLATFORM_HEAP_H_
#define MMS_PLATFORM_HEAP_H_

// True when block is the start of a LocalAlloc block not yet freed.
bool IsLiveBlock(const void* block);

#endif  // MMS_PLATFORM_HEAP_H_
