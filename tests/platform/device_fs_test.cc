// device_fs_test.cc: device paths onto host paths, and the root's layout.
#include "platform/device_fs.h"

#include <cstdlib>
#include <filesystem>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace mms::platform {
namespace {

using mms::testing::DeviceTest;
using mms::testing::HostFileExists;
using mms::testing::WriteHostFile;

using DevicePath = DeviceTest;

TEST_F(DevicePath, ComponentsTakeTheExistingSpellingWhateverTheCase) {
  std::string root = DeviceRoot();
  std::string host;
  ASSERT_TRUE(DeviceToHostPath(L"\\WINDOWS\\messaging\\New.mms", &host));
  EXPECT_EQ(host, root + "/Windows/Messaging/New.mms");

  // Components that do not exist keep the spelling given.
  ASSERT_TRUE(DeviceToHostPath(L"\\temp\\MmsDecode\\A.TXT", &host));
  EXPECT_EQ(host, root + "/Temp/MmsDecode/A.TXT");

  // An exact match wins over another entry differing only in case.
  WriteHostFile(root + "/Temp/note.txt", "lower");
  WriteHostFile(root + "/Temp/NOTE.txt", "upper");
  ASSERT_TRUE(DeviceToHostPath(L"\\Temp\\NOTE.txt", &host));
  EXPECT_EQ(host, root + "/Temp/NOTE.txt");
  ASSERT_TRUE(DeviceToHostPath(L"\\Temp\\note.txt", &host));
  EXPECT_EQ(host, root + "/Temp/note.txt");
}

TEST_F(DevicePath, RememberedFoldersFollowRenamesAndAReplacedRoot) {
  std::string root = DeviceRoot();
  ASSERT_TRUE(CreateDirectoryW(L"\\Temp\\Inbox", nullptr));
  WriteHostFile(root + "/Temp/Inbox/a.txt", "a");
  EXPECT_EQ(GetFileAttributesW(L"\\temp\\INBOX\\a.txt"), FILE_ATTRIBUTE_NORMAL);

  // Another process renames a remembered folder.
  ASSERT_EQ(std::system(("mv '" + root + "/Temp' '" + root + "/TEMP'").c_str()),
            0);
  EXPECT_EQ(GetFileAttributesW(L"\\temp\\inbox\\a.txt"), FILE_ATTRIBUTE_NORMAL);
  HANDLE file = CreateFileW(L"\\Temp\\Inbox\\b.txt", GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(HostFileExists(root + "/TEMP/Inbox/b.txt"));

  // The root replaced by an empty folder is laid out afresh.
  fs::remove_all(root);
  fs::create_directory(root);
  EXPECT_TRUE(CreateDirectoryW(L"\\Temp\\Inbox", nullptr));
  EXPECT_TRUE(fs::is_directory(root + "/Temp/Inbox"));
  EXPECT_TRUE(fs::is_directory(root + "/Windows/Messaging"));

  // Another root: nothing remembered of the first one is used.
  mms::testing::ScopedDeviceRoot other;
  fs::create_directories(other.host() + "/tEmP/inbox");
  ASSERT_TRUE(DeviceToHostPath(L"\\Temp\\Inbox\\c.txt", &root));
  EXPECT_EQ(root, other.host() + "/tEmP/inbox/c.txt");
}

TEST_F(DevicePath, NonAsciiNamesAreUtf8AndMatchWithoutRegardToCase) {
  std::string root = DeviceRoot();
  WriteHostFile(root + "/Temp/\xC3\x84rger.txt", "x");  // "Ärger.txt"
  std::string host;
  ASSERT_TRUE(DeviceToHostPath(L"\\temp\\\u00E4RGER.TXT", &host));
  EXPECT_EQ(host, root + "/Temp/\xC3\x84rger.txt");
  HANDLE file = CreateFileW(L"\\Temp\\\u5F69\u4FE1.txt", GENERIC_WRITE, 0,
                            nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(HostFileExists(root + "/Temp/\xE5\xBD\xA9\xE4\xBF\xA1.txt"));
}

TEST_F(DevicePath, DotComponentsAndEscapesAreRefused) {
  std::string host;
  EXPECT_FALSE(DeviceToHostPath(L"\\Temp\\..\\..\\etc\\passwd", &host));
  EXPECT_FALSE(DeviceToHostPath(L"\\Temp\\.\\a.txt", &host));
  EXPECT_FALSE(DeviceToHostPath(L"\\Temp/../../x", &host));
  // A lone surrogate has no UTF-8 form, so it names nothing.
  EXPECT_FALSE(DeviceToHostPath(std::wstring(L"\\Temp\\") + L'\xD800', &host));

  EXPECT_EQ(CreateFileW(L"\\..\\escape.txt", GENERIC_WRITE, 0, nullptr,
                        CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(
      HostFileExists(fs::path(DeviceRoot()).parent_path() / "escape.txt"));
  // Names that merely contain dots are ordinary.
  EXPECT_TRUE(DeviceToHostPath(L"\\Temp\\..hidden..", &host));
}

}  // namespace
}  // namespace mms::platform
