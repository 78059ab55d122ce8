// log_test.cc: the diagnostic log file, its header, its lines, and its
// switch (the folder "\KestLogDir").
#include "diag/log.h"

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "mms.h"
#include "platform/device_fs.h"
#include "platform/test_seams.h"
#include "platform/winapi.h"
#include "support/test_support.h"

namespace mms::diag {
namespace {

using mms::testing::DeviceTest;
using mms::testing::ReadHostFile;

// True when text has the shape of pattern, where '9' stands for a digit.
bool HasShape(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) {
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) {
      return false;
    }
  }
  return true;
}

class LogTest : public DeviceTest {
 protected:
  void SetUp() override {
    CloseLog();
    platform::DeviceRoot();  // lay the root out before the test adds to it
  }
  void TearDown() override {
    CloseLog();
    DeviceTest::TearDown();
  }

  void MakeLogFolder() {
    std::filesystem::create_directories(root_.host() + "/KestLogDir");
  }
  // The test program is "diag_tests": no ".", so "_log.txt" is appended.
  std::string LogHost() const {
    return root_.host() + "/KestLogDir/diag_tests_log.txt";
  }
  // The lines of the file, without their "\r\n"; fails on a bare tail.
  std::vector<std::string> Lines() const {
    const mms::testing::Bytes bytes = ReadHostFile(LogHost());
    const std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(text.size(), start) << "text after the last line end";
    return lines;
  }
  // The text of a line after its "hh:mm:ss:mmm : " stamp.
  static std::string Text(const std::string& line) {
    EXPECT_TRUE(HasShape(line.substr(0, 15), "99:99:99:999 : ")) << line;
    return line.size() < 15 ? "" : line.substr(15);
  }
};

const char kRule[] = "=============================================";

TEST_F(LogTest, OpensWithRuleAndHeaderThenTimestampedEntries) {
  platform::test::FixClock(SYSTEMTIME{2009, 3, 0, 5, 12, 27, 4, 9});
  SYSTEMTIME local = {};
  GetLocalTime(&local);
  MakeLogFolder();

  LogText(GetLog(), L"entry %d of %ls", 1, L"two");

  std::vector<std::string> lines = Lines();
  ASSERT_EQ(3u, lines.size());
  char stamp[32];
  snprintf(stamp, sizeof stamp, "%02u:%02u:%02u:%03u", unsigned{local.wHour},
           unsigned{local.wMinute}, unsigned{local.wSecond},
           unsigned{local.wMilliseconds});
  EXPECT_EQ(std::string(stamp) + " : " + kRule, lines[0]);
  char started[96];
  snprintf(started, sizeof started,
           "Log is started on %02u.%02u.%04u, at %s, executable: ",
           unsigned{local.wDay}, unsigned{local.wMonth}, unsigned{local.wYear},
           stamp);
  wchar_t module[260] = {};
  GetModuleFileNameW(nullptr, module, 260);
  char module_utf8[1040] = {};
  WideCharToMultiByte(CP_UTF8, 0, module, -1, module_utf8, sizeof module_utf8,
                      nullptr, nullptr);
  char process[64];
  snprintf(process, sizeof process, " (ProcID: 0x%08x), compile time : ",
           unsigned{GetCurrentProcessId()});
  const std::string header = Text(lines[1]);
  EXPECT_EQ(std::string(started) + module_utf8 + process,
            header.substr(0, header.size() - 20));
  // Build date and time as "Mar  5 2009 14:27:04".
  EXPECT_TRUE(HasShape(header.substr(header.size() - 9), " 99:99:99"))
      << header;
  EXPECT_EQ(std::string(stamp) + " : entry 1 of two", lines[2]);
}

TEST_F(LogTest, LoggingFollowsTheFolderAndClosingSaysSo) {
  LogText(GetLog(), L"before");
  EXPECT_FALSE(GetLog()->IsOpen());
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root_.host())) {
    EXPECT_EQ(std::string::npos, entry.path().string().find("_log.txt"));
  }
  MakeLogFolder();
  LogText(GetLog(), L"after");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("after", Text(lines[2]));

  CloseLog();
  lines = Lines();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("Log finished", Text(lines[3]));
}

TEST_F(LogTest, EntriesAreWrittenWholeOrDroppedWhole) {
  MakeLogFolder();
  DiagnosticLog* log = GetLog();
  // 15 bytes of stamp, the text, "\r\n" and a NUL fill 1024 bytes.
  LogText(log, L"%ls", std::wstring(1006, L'a').c_str());
  LogText(log, L"%ls", std::wstring(1007, L'b').c_str());
  LogText(log, L"%ls", std::wstring(1100, L'c').c_str());
  // Wide formatting has 1023 characters before the 8-bit line is built.
  LogText(log, L"%ls", std::wstring(1024, L'd').c_str());
  LogText(log, L"ends with a newline\n");
  LogText(log, L"%ls", L"\\My Documents\\\u56fe\u7247.jpg");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ(std::string(1006, 'a'), Text(lines[2]));
  EXPECT_EQ("ends with a newline\n", Text(lines[3]));
  EXPECT_EQ("\\My Documents\\\xe5\x9b\xbe\xe7\x89\x87.jpg", Text(lines[4]));
}

TEST_F(LogTest, LinesFromSeveralThreadsNeverInterleave) {
  MakeLogFolder();
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) {
        LogText(GetLog(), L"thread %d line %03d %ls", t, i,
                std::wstring(60, static_cast<wchar_t>(L'a' + t)).c_str());
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(2u + kThreads * kEach, lines.size());
  std::vector<int> next(kThreads, 0);
  for (size_t i = 2; i < lines.size(); ++i) {
    const std::string text = Text(lines[i]);
    ASSERT_GT(text.size(), 7u);
    const int t = text[7] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << text;
    char expected[96];
    snprintf(expected, sizeof expected, "thread %d line %03d %s", t, next[t]++,
             std::string(60, static_cast<char>('a' + t)).c_str());
    EXPECT_EQ(expected, text);
  }
}

}  // namespace
}  // namespace mms::diag
