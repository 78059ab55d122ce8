// files_test.cc: CreateFileW dispositions and error codes, reads and writes,
// sharing among handles, and handle misuse.
#include <filesystem>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::platform {
namespace {

using mms::testing::Bytes;
using mms::testing::DeviceTest;
using mms::testing::ReadHostFile;
using mms::testing::WriteHostFile;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
const wchar_t kFile[] = L"\\Temp\\a.bin";

class Files : public DeviceTest {
 protected:
  HANDLE Open(DWORD access, DWORD share, DWORD disposition,
              const wchar_t* path = kFile) {
    return CreateFileW(path, access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  void Put(const std::string& text) { WriteHostFile(Host(kFile), text); }
  std::string Contents() {
    Bytes b = ReadHostFile(Host(kFile));
    return std::string(b.begin(), b.end());
  }
};

TEST_F(Files, DispositionsFollowWin32) {
  // Missing file.
  EXPECT_EQ(Open(GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE h = Open(GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);

  // Existing file.
  Put("hello");
  EXPECT_EQ(Open(GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  h = Open(GENERIC_READ, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(h);
  EXPECT_EQ(Contents(), "hello");

  h = Open(GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(h);
  EXPECT_EQ(Contents(), "");

  Put("again");
  h = Open(GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(Contents(), "");

  // Creation in a folder that does not exist.
  for (DWORD disposition :
       {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING}) {
    EXPECT_EQ(Open(GENERIC_WRITE, 0, disposition, L"\\NoSuch\\x.bin"),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << disposition;
  }
  // Bad dispositions, and a folder opened as a file.
  EXPECT_EQ(Open(GENERIC_WRITE, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(GENERIC_READ, 0, OPEN_EXISTING, L"\\Temp"),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Files, WritesReadsAndSeeks) {
  HANDLE h = Open(kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &done, nullptr));
  EXPECT_EQ(done, 10u);
  EXPECT_TRUE(FlushFileBuffers(h));
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 10u);
  EXPECT_EQ(high, 0u);

  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
  EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_CURRENT), 5u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, 3, &done, nullptr));
  EXPECT_EQ(std::string(buf, done), "567");
  EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_END), 6u);
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ(std::string(buf, done), "6789");  // short read at the end
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ(done, 0u);  // end of file is success with nothing read

  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 9), INVALID_SET_FILE_POINTER);
  CloseHandle(h);
  EXPECT_EQ(Contents(), "0123456789");

  // Access the handle was not opened for is refused.
  h = Open(GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(h, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(h);
  h = Open(GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_FALSE(ReadFile(h, buf, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(h);
}

TEST_F(Files, SharingIsEnforcedAmongOpenHandles) {
  Put("data");
  HANDLE reader = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  // A second reader is welcome; a writer is not.
  HANDLE reader2 = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader2, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(GENERIC_WRITE, kShareAll, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // CREATE_ALWAYS is refused before it truncates anything.
  EXPECT_EQ(Open(GENERIC_WRITE, kShareAll, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Contents(), "data");
  // A newcomer that will not share reading clashes with the readers.
  EXPECT_EQ(Open(GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // An open file cannot be deleted.
  EXPECT_FALSE(DeleteFileW(kFile));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

  CloseHandle(reader);
  CloseHandle(reader2);
  HANDLE writer = Open(GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  // The writer shares reading, so a reader sharing writing may join.
  HANDLE joined = Open(GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_NE(joined, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  CloseHandle(joined);
  CloseHandle(writer);
  EXPECT_TRUE(DeleteFileW(kFile));
}

TEST_F(Files, ClosedAndUnknownHandlesFailCleanly) {
  HANDLE h = Open(kReadWrite, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
  char buf[4];
  DWORD done = 5;
  for (HANDLE bad : {h, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr),
                     reinterpret_cast<HANDLE>(uintptr_t{0x1234})}) {
    EXPECT_FALSE(ReadFile(bad, buf, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(WriteFile(bad, buf, 4, &done, nullptr));
    EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(SetFilePointer(bad, 0, nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    EXPECT_FALSE(FlushFileBuffers(bad));
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  // The closed handle no longer blocks anyone.
  EXPECT_TRUE(DeleteFileW(kFile));
}

}  // namespace
}  // namespace mms::platform
