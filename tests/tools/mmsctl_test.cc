// mmsctl_test.cc: the mmsctl program as a user runs it: `demo` and `save`
// on a private device root, their output, exit codes and saved files.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mms.h"
#include "support/test_support.h"

namespace mmsctl {
namespace {

using mms::testing::Bytes;
using mms::testing::Hex;
using mms::testing::ReadHostFile;
using mms::testing::WriteHostFile;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string Slurp(const std::string& path) {
  Bytes bytes = ReadHostFile(path);
  return std::string(bytes.begin(), bytes.end());
}

class MmsctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kBinary))
        << "build the mmsctl target first";
    scratch_ = root_.host() + "-scratch";
    std::filesystem::create_directories(scratch_);
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  Outcome Run(const std::vector<std::string>& args) {
    std::string command =
        "MMS_DEVICE_ROOT=" + Quote(root_.host()) + " " + Quote(kBinary);
    for (const std::string& a : args) {
      command += " " + Quote(a);
    }
    const std::string out = scratch_ + "/stdout";
    const std::string err = scratch_ + "/stderr";
    command += " >" + Quote(out) + " 2>" + Quote(err);
    Outcome o;
    int status = std::system(command.c_str());
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = Slurp(out);
    o.err = Slurp(err);
    return o;
  }

  // The value after "label" on its own line of text.
  static std::string Field(const std::string& text, const std::string& label) {
    size_t at = text.find(label);
    if (at == std::string::npos) {
      return "";
    }
    at += label.size();
    return text.substr(at, text.find('\n', at) - at);
  }

  std::vector<std::string> SavedFiles() {
    std::vector<std::string> files;
    const std::string folder = root_.host() + "/Windows/Messaging";
    if (std::filesystem::exists(folder)) {
      for (const auto& e : std::filesystem::directory_iterator(folder)) {
        files.push_back(e.path().string());
      }
    }
    return files;
  }

  static bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(),
                       needle.end()) != haystack.end();
  }

  const std::string kBinary = MMS_BINARY_DIR "/mmsctl";
  mms::testing::ScopedDeviceRoot root_;
  std::string scratch_;
};

TEST_F(MmsctlTest, DemoShowsTheMessageAndSavesIt) {
  Outcome o = Run({"demo"});
  ASSERT_EQ(0, o.code) << o.err;
  EXPECT_EQ("", o.err);
  EXPECT_NE(std::string::npos, o.out.find("To:       +8613800000001\n"));
  EXPECT_NE(std::string::npos,
            o.out.find("Slide 0:  5000 ms: sunrise.gif, tempTxt0.txt\n"));
  EXPECT_NE(std::string::npos, o.out.find("Slide 1:  3000 ms: chime.mid\n"));
  EXPECT_NE(std::string::npos,
            o.out.find("<par dur=\"5000ms\">\n"
                       "<img src=\"sunrise.gif\" region=\"Image\" />\n"
                       "<text src=\"temptxt0.txt\" region=\"Text\" />\n"
                       "</par>\n"));

  const std::string host = Field(o.out, "host:  ");
  ASSERT_EQ(std::vector<std::string>{host}, SavedFiles());
  EXPECT_EQ(0u, Field(o.out, "saved: ").find("\\Windows\\Messaging\\Varnholt"));
  const Bytes pdu = ReadHostFile(host);
  EXPECT_EQ(std::to_string(pdu.size()) + " bytes", Field(o.out, "size:  "));
  ASSERT_GE(pdu.size(), 2u);
  EXPECT_EQ(Hex("8c 80"), Bytes(pdu.begin(), pdu.begin() + 2));
  EXPECT_TRUE(Contains(pdu, Bytes{'G', 'I', 'F', '8', '9', 'a'}));
  EXPECT_TRUE(Contains(pdu, Bytes{'M', 'T', 'h', 'd'}));
}

TEST_F(MmsctlTest, SaveComposesFilesTextDurationsAndOptions) {
  const std::string picture = scratch_ + "/photo.jpg";
  const std::string tune = scratch_ + "/ring.amr";
  WriteHostFile(picture, Hex("ff d8 ff e0 00 10 4a 46 49 46"));
  WriteHostFile(tune, std::string("#!AMR\n"));
  Outcome o = Run({"save",
                   "--to",
                   "13800000001",
                   "--cc",
                   "13900000002",
                   "--subject",
                   "Trip",
                   "--slide",
                   picture + "," + tune,
                   "--text",
                   "1",
                   "see you",
                   "--duration",
                   "0",
                   "4000",
                   "--priority",
                   "high",
                   "--class",
                   "auto",
                   "--hide-sender",
                   "--delivery-report",
                   "--read-report"});
  ASSERT_EQ(0, o.code) << o.err;
  EXPECT_EQ("", o.err);
  const std::string host = Field(o.out, "host:  ");
  ASSERT_EQ(std::vector<std::string>{host}, SavedFiles());
  const Bytes pdu = ReadHostFile(host);
  EXPECT_TRUE(Contains(pdu, Hex("8a 83")));  // class Auto
  EXPECT_TRUE(Contains(pdu, Hex("8f 82 94 80 86 80 90 80")))
      << "priority High, sender hidden, delivery and read report";
  const std::string text(pdu.begin(), pdu.end());
  EXPECT_NE(std::string::npos,
            text.find("<par dur=\"4000ms\">\n"
                      "<img src=\"photo.jpg\" region=\"Image\" />\n"
                      "<audio src=\"ring.amr\" />\n</par>\n"
                      "<par dur=\"30000ms\">\n"
                      "<text src=\"temptxt1.txt\" region=\"Text\" />\n"));
  EXPECT_NE(std::string::npos, text.find("see you"));
  // The files were copied into the device root before saving.
  EXPECT_EQ(ReadHostFile(picture),
            ReadHostFile(root_.host() + "/Temp/mmsctl/photo.jpg"));
}

TEST_F(MmsctlTest, ReceivedValuesArePrintedWithControlsEscaped) {
  // What a hostile push may leave: a screen-clearing escape sequence, a
  // forged line and a C1 control.
  wchar_t key[] = L"software\\varnholt\\MMS";
  wchar_t type[] = L"WapType";
  wchar_t url[] = L"WapUrl";
  wchar_t text[] = L"http://x/\x1b[2J\r\nWapUrl: forged\x9b";
  RegSetDword(HKEY_LOCAL_MACHINE, key, type, 130);
  RegSetString(key, url, text);
  const Outcome o = Run({"reg"});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out.find_first_of("\x1b\r"), std::string::npos) << o.out;
  EXPECT_NE(
      o.out.find("\"http://x/\\x1b[2J\\x0d\\x0aWapUrl: forged\\xc2\\x9b\""),
      std::string::npos)
      << o.out;
}

TEST_F(MmsctlTest, ErrorsGiveOneLineAndTheirExitCodeAndHelpAnswers) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  };
  const Case cases[] = {
      {{"save"}, 2, "--to is required"},
      {{"save", "--to", "12a"}, 2, "not a phone number"},
      {{"save", "--to", "1", "--duration", "x", "5"}, 2, "bad slide number"},
      {{"save", "--to", "1", "--text", "32", "t"}, 2, "bad slide number"},
      {{"save", "--to", "1", "--expiry", "soon"}, 2, "bad expiry"},
      {{"save", "--to", "1", "--priority", "urgent"}, 2, "bad priority"},
      {{"save", "--to", "1", "--duration", "2", "100"}, 2, "holds nothing"},
      {{"save", "--to", "1", "--subject"}, 2, "needs a value"},
      {{"save", "--to", "1", "--frobnicate"}, 2, "unknown argument"},
      {{"demo", "extra"}, 2, "takes no arguments"},
      {{"save", "--to", "1", "--slide", "/no/such/file.jpg"},
       1,
       "no such file: /no/such/file.jpg"},
  };
  for (const Case& c : cases) {
    Outcome o = Run(c.args);
    EXPECT_EQ(c.code, o.code) << c.says;
    EXPECT_EQ("", o.out) << c.says;
    EXPECT_EQ(0u, o.err.find("mmsctl " + c.args[0] + ": ")) << o.err;
    EXPECT_NE(std::string::npos, o.err.find(c.says)) << o.err;
    EXPECT_EQ(o.err.size() - 1, o.err.find('\n')) << "one line: " << o.err;
  }
  EXPECT_TRUE(SavedFiles().empty());
  for (const char* command : {"save", "demo"}) {
    Outcome o = Run({command, "--help"});
    EXPECT_EQ(0, o.code);
    EXPECT_EQ(0u, o.out.find(std::string("usage: mmsctl ") + command));
  }
}

}  // namespace
}  // namespace mmsctl
