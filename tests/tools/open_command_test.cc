// open_command_test.cc: `mmsctl open` as a user runs it on a private device
// root: what it prints for a sample message, and its errors.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace mmsctl {
namespace {

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

std::string ReadText(const std::string& path) {
  const mms::testing::Bytes bytes = mms::testing::ReadHostFile(path);
  return std::string(bytes.begin(), bytes.end());
}

class OpenCommand : public ::testing::Test {
 protected:
  Outcome Run(const std::string& args) {
    const std::string out = root_.host() + "-out";
    const std::string err = root_.host() + "-err";
    const std::string command = "MMS_DEVICE_ROOT='" + root_.host() + "' '" +
                                kBinary + "' open " + args + " >'" + out +
                                "' 2>'" + err + "'";
    Outcome o;
    const int status = std::system(command.c_str());
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = ReadText(out);
    o.err = ReadText(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return o;
  }

  const std::string kBinary = MMS_BINARY_DIR "/mmsctl";
  mms::testing::ScopedDeviceRoot root_;
};

TEST_F(OpenCommand, PrintsHeadersPartsAndSlidesOfASample) {
  const std::string sample =
      mms::testing::CorpusDir() + "/python-messaging/NOWMMS.MMS";
  if (!std::filesystem::exists(sample)) {
    GTEST_SKIP() << "no corpus";
  }
  ASSERT_TRUE(std::filesystem::exists(kBinary)) << "build mmsctl first";
  const Outcome o = Run("'" + sample + "'");
  ASSERT_EQ(o.code, 0) << o.err;
  for (const char* line :
       {"From: NowMMS <nowsms@now.co.uk>\n", "Subject: NowMMS Test Message\n",
        "Date: 2002-", "Parts: 5\n",
        "  1  pic1.gif  image/gif  4736 bytes  \\temp\\mmsdecode\\pic1.gif\n",
        "Slides: 2\n", "     \\temp\\mmsdecode\\catchy_g.amr\n"}) {
    EXPECT_NE(o.out.find(line), std::string::npos) << line << "\n" << o.out;
  }
  // The host file was copied into the device root and decoded there.
  EXPECT_TRUE(
      std::filesystem::exists(root_.host() + "/Temp/mmsctl/NOWMMS.MMS"));
}

TEST_F(OpenCommand, ErrorsAreOneLine) {
  ASSERT_TRUE(std::filesystem::exists(kBinary)) << "build mmsctl first";
  Outcome missing = Run("/no/such/file.mms");
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err.find("mmsctl open: "), 0u);
  EXPECT_EQ(missing.err.find('\n'), missing.err.size() - 1);
  EXPECT_EQ(Run("").code, 2);
  EXPECT_EQ(Run("a b").code, 2);
  Outcome device = Run("'\\Windows\\Messaging\\none.mms'");
  EXPECT_EQ(device.code, 1);
  const Outcome help = Run("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.find("usage: mmsctl open FILE"), 0u);
}

}  // namespace
}  // namespace mmsctl
