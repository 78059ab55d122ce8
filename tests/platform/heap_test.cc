// heap_test.cc: LocalAlloc / LocalFree / LocalSize and the per-thread error
// code.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <thread>

#include "platform/winapi.h"

namespace {

TEST(Heap, ZeroInitGivesZeroedBytesAndFreeGivesNull) {
  unsigned char* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4096; ++i) {
    ASSERT_EQ(block[i], 0) << "byte " << i;
  }
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(Heap, SizeOfABlockIsWhatItWasMadeWith) {
  void* block = LocalAlloc(LMEM_FIXED, 260 * 3);
  EXPECT_EQ(LocalSize(block), 780u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
  LocalFree(block);
  void* empty = LocalAlloc(LPTR, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(LocalSize(empty), 0u);
  LocalFree(empty);
  EXPECT_EQ(LocalSize(nullptr), 0u);
}

TEST(Heap, HugeRequestGivesNullAndOutOfMemory) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(LocalAlloc(LPTR, static_cast<size_t>(-1)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, size_t{0xFFFFFFF0u}), nullptr);
}

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_FILE_EXISTS);
  DWORD seen_by_other = 1;
  std::thread other([&] {
    seen_by_other = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  });
  other.join();
  EXPECT_EQ(seen_by_other, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
}

}  // namespace
