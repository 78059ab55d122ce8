// save_test.cc: CMMS::MMS_Save: the stored bytes, the forced layout and who
// owns the message afterwards; many composers at once, whose files never
// replace one another across processes and whose typed text stays their own.
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "client/prepare.h"
#include "mms.h"
#include "platform/test_seams.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

namespace mms::client {
namespace {

using mms::testing::Bytes;
using mms::testing::DeviceTest;
using mms::testing::Hex;
using mms::testing::ReadHostFile;
using mms::testing::ToHex;
using mms::testing::WBuf;
using mms::testing::WriteHostFile;

class SaveTest : public DeviceTest {
 protected:
  void SetUp() override {
    platform::test::FixClock({2009, 3, 0, 5, 6, 27, 4, 0});
    platform::test::FixTickCount(31);
    WriteHostFile(Host(L"\\My Documents\\pic.jpg"), Hex("ff d8 ff e0 00 10"));
    WriteHostFile(Host(L"\\My Documents\\song.amr"), "#!AMR\n<>");
  }

  // Picture and text on slide 0, sound on slide 1; no options.
  static MMS_Custom_Data* Compose() {
    auto* m = new MMS_Custom_Data();
    EXPECT_EQ(1, m->SetPhoneNumber(WBuf(L"13800000001")));
    EXPECT_EQ(1, m->SetSubject(WBuf(L"hi")));
    EXPECT_EQ(1, m->AddPartFileName(0, WBuf(L"\\My Documents\\pic.jpg")));
    EXPECT_EQ(1, m->AddPartTxt(0, WBuf(L"hello"), 0));
    EXPECT_EQ(1, m->AddPartFileName(1, WBuf(L"\\My Documents\\song.amr")));
    return m;
  }

  // What the encoder gives for a composed message after the preparation.
  static Bytes Encoded(MMS_Custom_Data* m) {
    EXPECT_TRUE(PrepareForEncoding(m, 0));
    CMMS mms;
    int length = 0;
    unsigned char* pdu = MmsTestAccess::MakeSendData(mms, m, &length);
    if (pdu == nullptr) {
      ADD_FAILURE() << "the encoder refused the message";
      return {};
    }
    Bytes bytes(pdu, pdu + length);
    LocalFree(pdu);
    return bytes;
  }
};

std::string AsText(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST_F(SaveTest, StoresTheEncodedMessageUnderAFreshNameAndTakesIt) {
  MMS_Custom_Data* reference = Compose();
  const Bytes expected = Encoded(reference);
  delete reference;

  MMS_Custom_Data* message = Compose();
  // Whatever layout the client chose, the saved message has the fixed one.
  message->m_nRootWidth = 1;
  message->m_nImageWidth = 0;
  message->m_nTextWidth = 0;
  message->m_nTextTop = 7;
  WBuf saved(std::wstring(260, L'#'));
  WBuf third(L"third argument");
  ASSERT_EQ(0, CMMS::MMS_Save(message, saved, third));
  // The message is gone now; the leak checker and ASan watch over that.

  srand(31);
  const std::wstring path = L"\\Windows\\Messaging\\Varnholt2009356274" +
                            std::to_wstring(rand()) + L".mms";
  EXPECT_EQ(path, std::wstring(static_cast<wchar_t*>(saved)));
  EXPECT_EQ(L"third argument", std::wstring(static_cast<wchar_t*>(third)));
  EXPECT_EQ(ToHex(expected), ToHex(ReadHostFile(Host(path))));
}

TEST_F(SaveTest, MissingFileLeavesThePreparedMessageWithTheCaller) {
  MMS_Option option = {};
  option.nPriority = 2;
  option.nMessageClass = 4;
  auto* message = new MMS_Custom_Data(0, &option);
  ASSERT_NE(nullptr, message->m_pOption);
  MMS_Option* kept = message->m_pOption;
  ASSERT_EQ(1, message->AddPartFileName(0, WBuf(L"\\My Documents\\gone.jpg")));
  message->m_nRootHeight = 3;
  WBuf saved(L"untouched");
  WBuf third(L"third");

  EXPECT_EQ(-1, CMMS::MMS_Save(message, saved, third));

  EXPECT_EQ(L"untouched", std::wstring(static_cast<wchar_t*>(saved)));
  EXPECT_EQ(L"third", std::wstring(static_cast<wchar_t*>(third)));
  EXPECT_TRUE(std::filesystem::is_empty(Host(L"\\Windows\\Messaging")));
  // Still the caller's, prepared: same options, fixed layout, a document.
  EXPECT_EQ(kept, message->m_pOption);
  EXPECT_EQ(2, message->m_pOption->nPriority);
  EXPECT_EQ(4, message->m_pOption->nMessageClass);
  EXPECT_EQ(160, message->m_nRootWidth);
  EXPECT_EQ(140, message->m_nRootHeight);
  EXPECT_EQ(120, message->m_nTextTop);
  ASSERT_NE(nullptr, message->m_pSimlContent);
  EXPECT_NE(nullptr, strstr(message->m_pSimlContent, "gone.jpg"));
  delete message;
}

TEST_F(SaveTest, MissingMessageFolderFailsAndTheMessageKeepsItsNewOptions) {
  EXPECT_EQ(-1, CMMS::MMS_Save(nullptr, nullptr, nullptr));
  std::filesystem::remove_all(Host(L"\\Windows\\Messaging"));
  MMS_Custom_Data* message = Compose();
  ASSERT_EQ(nullptr, message->m_pOption);
  EXPECT_EQ(-1, CMMS::MMS_Save(message, nullptr, nullptr));
  ASSERT_NE(nullptr, message->m_pOption);
  const MMS_Option zero = {};
  EXPECT_EQ(0, memcmp(&zero, message->m_pOption, sizeof zero));
  delete message;
}

// Composers at once, on the real clock.
using Writers = DeviceTest;

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
    EXPECT_NE(AsText(ReadHostFile(Host(device))).find(text), std::string::npos)
        << path;
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
  const std::string pdu = AsText(ReadHostFile(Host(saved)));
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
