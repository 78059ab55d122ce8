// writers_test.cc: many composers at once: message files never replace one
// another across processes, and typed text stays the composer's own, even
// when a received message brings a part of the same name.
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "mms.h"
#include "support/test_support.h"

namespace mms::client {
namespace {

using mms::testing::DeviceTest;
using mms::testing::ReadHostFile;
using mms::testing::WBuf;
using mms::testing::WriteHostFile;

class Writers : public DeviceTest {
 protected:
  // The stored file's bytes as text.
  std::string Stored(const std::wstring& device_path) {
    const auto bytes = ReadHostFile(Host(device_path));
    return std::string(bytes.begin(), bytes.end());
  }
};

// Saves 100 messages, each with its own typed text, and lists
// "path<TAB>text" for each in list; exits 0 when every save succeeded.
[[noreturn]] void SaveHundred(int writer, const std::string& list) {
  std::ofstream out(list);
  int failures = 0;
  for (int i = 0; i < 100; ++i) {
    const std::wstring text =
        L"writer " + std::to_wstring(writer) + L" save " + std::to_wstring(i);
    auto* message = new MMS_Custom_Data();
    message->SetPhoneNumber(WBuf(L"13800000001"));
    message->AddPartTxt(0, WBuf(text), 0);
    wchar_t path[260] = {};
    wchar_t unused[260] = {};
    if (CMMS::MMS_Save(message, path, unused) != 0) {
      delete message;
      ++failures;
      continue;
    }
    out << std::string(path, path + wcslen(path)) << '\t'
        << std::string(text.begin(), text.end()) << '\n';
  }
  out.close();
  _exit(failures == 0 ? 0 : 1);
}

TEST_F(Writers, EightProcessesSaveEightHundredMessagesEachWithItsOwnText) {
  constexpr int kWriters = 8;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SaveHundred(writer, Host(L"list" + std::to_wstring(writer)));
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::map<std::string, std::string> text_of;
  size_t told = 0;
  for (int writer = 0; writer < kWriters; ++writer) {
    std::ifstream in(Host(L"list" + std::to_wstring(writer)));
    std::string line;
    while (std::getline(in, line)) {
      ++told;
      const size_t tab = line.find('\t');
      text_of[line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  EXPECT_EQ(told, 800u);
  ASSERT_EQ(text_of.size(), 800u);  // no two saves were told one path
  for (const auto& [path, text] : text_of) {
    const std::wstring device(path.begin(), path.end());
    EXPECT_NE(Stored(device).find(text), std::string::npos) << path;
    MMS_Custom_Data opened;
    EXPECT_EQ(CMMS::MMS_Open(WBuf(device), &opened), 0) << path;
  }
}

TEST_F(Writers, TypedTextSurvivesAReceivedPartOfTheSameName) {
  // A received message whose text part is named as typed text is.
  WriteHostFile(Host(L"\\My Documents\\tempTxt0.txt"), "theirs");
  auto* received = new MMS_Custom_Data();
  received->SetPhoneNumber(WBuf(L"13800000001"));
  received->AddPartFileName(0, WBuf(L"\\My Documents\\tempTxt0.txt"));
  wchar_t received_path[260] = {};
  wchar_t unused[260] = {};
  ASSERT_EQ(CMMS::MMS_Save(received, received_path, unused), 0);

  auto* mine = new MMS_Custom_Data();
  mine->SetPhoneNumber(WBuf(L"13800000002"));
  ASSERT_EQ(mine->AddPartTxt(0, WBuf(L"mine"), 0), 1);
  {
    MMS_Custom_Data opened;
    ASSERT_EQ(CMMS::MMS_Open(received_path, &opened), 0);
  }
  wchar_t saved[260] = {};
  ASSERT_EQ(CMMS::MMS_Save(mine, saved, unused), 0);
  const std::string pdu = Stored(saved);
  EXPECT_NE(pdu.find("mine"), std::string::npos);
  EXPECT_EQ(pdu.find("theirs"), std::string::npos);
  EXPECT_NE(pdu.find("tempTxt0.txt"), std::string::npos);  // the wire name
}

TEST_F(Writers, AFullDiskDuringADecodeListsNoCutPart) {
  // A message with a 300,000-byte part, opened where files may not pass
  // 200,000 bytes.
  const std::string big(300000, 'b');
  WriteHostFile(Host(L"\\My Documents\\big.bin"), big);
  auto* message = new MMS_Custom_Data();
  message->SetPhoneNumber(WBuf(L"13800000001"));
  message->AddPartFileName(0, WBuf(L"\\My Documents\\big.bin"));
  wchar_t saved[260] = {};
  wchar_t unused[260] = {};
  ASSERT_EQ(CMMS::MMS_Save(message, saved, unused), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {200000, 200000};
    setrlimit(RLIMIT_FSIZE, &limit);
    MMS_Custom_Data opened;
    CMMS::MMS_Open(saved, &opened);
    // Every listed file must be whole: the big one only at its full size.
    int cut = 0;
    for (int i = 0; i < opened.m_nFileNum; ++i) {
      char name[260] = {};
      opened.GetFileName(i, name);
      std::error_code error;
      const auto size = std::filesystem::file_size(
          Host(std::wstring(name, name + strlen(name))), error);
      if (error || (strstr(name, "big.bin") != nullptr && size != big.size())) {
        ++cut;
      }
    }
    _exit(cut == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace mms::client
