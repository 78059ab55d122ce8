// files_test.cc: CreateFileW dispositions and error codes, and sharing among
// handles.
#include <filesystem>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::platform {
namespace {

using mms::testing::Bytes;
using mms::testing::DeviceTest;
using mms::testing::ReadHostFile;
using mms::testing::WriteHostFile;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
const wchar_t kFile[] = L"\\Temp\\a.bin";

class Files : public DeviceTest {
 protected:
  HANDLE Open(DWORD access, DWORD share, DWORD disposition,
              const wchar_t* path = kFile) {
    return CreateFileW(path, access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // The error of an open that fails; ERROR_SUCCESS when it opened.
  DWORD Refusal(DWORD access, DWORD share, DWORD disposition,
                const wchar_t* path = kFile) {
    HANDLE h = Open(access, share, disposition, path);
    return h == INVALID_HANDLE_VALUE ? GetLastError()
                                     : (CloseHandle(h), ERROR_SUCCESS);
  }
  void Put(const std::string& text) { WriteHostFile(Host(kFile), text); }
  std::string Contents() {
    Bytes b = ReadHostFile(Host(kFile));
    return std::string(b.begin(), b.end());
  }
};

TEST_F(Files, DispositionsFollowWin32) {
  // Missing file.
  EXPECT_EQ(Refusal(GENERIC_READ, 0, OPEN_EXISTING), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Refusal(GENERIC_WRITE, 0, TRUNCATE_EXISTING), ERROR_FILE_NOT_FOUND);
  HANDLE h = Open(GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);

  // Existing file.
  Put("hello");
  EXPECT_EQ(Refusal(GENERIC_WRITE, 0, CREATE_NEW), ERROR_FILE_EXISTS);
  h = Open(GENERIC_READ, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(h);
  EXPECT_EQ(Contents(), "hello");
  for (DWORD truncating : {CREATE_ALWAYS, TRUNCATE_EXISTING}) {
    Put("again");
    h = Open(GENERIC_WRITE, 0, truncating);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(truncating != CREATE_ALWAYS ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    CloseHandle(h);
    EXPECT_EQ(Contents(), "") << truncating;
  }

  // Creation in a folder that does not exist.
  for (DWORD disposition :
       {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING}) {
    EXPECT_EQ(Refusal(GENERIC_WRITE, 0, disposition, L"\\NoSuch\\x.bin"),
              ERROR_PATH_NOT_FOUND)
        << disposition;
  }
  // Bad dispositions, and a folder opened as a file.
  EXPECT_EQ(Refusal(GENERIC_WRITE, 0, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Refusal(GENERIC_READ, 0, TRUNCATE_EXISTING),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Refusal(GENERIC_READ, 0, OPEN_EXISTING, L"\\Temp"),
            ERROR_ACCESS_DENIED);
}

TEST_F(Files, SharingIsEnforcedAmongOpenHandles) {
  Put("data");
  HANDLE reader = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  // A second reader is welcome; a writer is not.
  HANDLE reader2 = Open(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader2, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Refusal(GENERIC_WRITE, kShareAll, OPEN_EXISTING),
            ERROR_SHARING_VIOLATION);
  // CREATE_ALWAYS is refused before it truncates anything.
  EXPECT_EQ(Refusal(GENERIC_WRITE, kShareAll, CREATE_ALWAYS),
            ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Contents(), "data");
  // A newcomer that will not share reading clashes with the readers.
  EXPECT_EQ(Refusal(GENERIC_READ, 0, OPEN_EXISTING), ERROR_SHARING_VIOLATION);
  // An open file cannot be deleted; its name is still taken for a create.
  EXPECT_FALSE(DeleteFileW(kFile));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Refusal(GENERIC_WRITE, 0, CREATE_NEW), ERROR_FILE_EXISTS);

  CloseHandle(reader);
  CloseHandle(reader2);
  HANDLE writer = Open(GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  // The writer shares reading, so a reader sharing writing may join.
  HANDLE joined = Open(GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_NE(joined, INVALID_HANDLE_VALUE);
  EXPECT_NE(Refusal(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  CloseHandle(joined);
  CloseHandle(writer);
  EXPECT_TRUE(DeleteFileW(kFile));
}

}  // namespace
}  // namespace mms::platform
