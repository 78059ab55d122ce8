// connections_test.cc: `mmsctl connections` as a user runs it on a private
// device root: the listing, adding an entry the library then connects
// through, and one-line usage errors.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "connmgr/connmgr_entries.h"
#include "support/test_support.h"

namespace {

namespace connmgr = mms::platform::connmgr;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

class ConnectionsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kBinary))
        << "build the mmsctl target first";
  }

  Outcome Run(const std::vector<std::string>& args) {
    const std::string base = root_.host() + "-out";
    std::string command = "MMS_DEVICE_ROOT='" + root_.host() + "' " + kBinary;
    for (const std::string& a : args) {
      command += " '" + a + "'";  // the tests pass no quotes
    }
    command += " >'" + base + ".1' 2>'" + base + ".2'";
    Outcome o;
    const int status = std::system(command.c_str());
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const mms::testing::Bytes out = mms::testing::ReadHostFile(base + ".1");
    const mms::testing::Bytes err = mms::testing::ReadHostFile(base + ".2");
    o.out.assign(out.begin(), out.end());
    o.err.assign(err.begin(), err.end());
    return o;
  }

  const std::string kBinary = MMS_BINARY_DIR "/mmsctl";
  mms::testing::ScopedDeviceRoot root_;
};

TEST_F(ConnectionsCommandTest, ListsTheNewDevicesEntryAndAddsOne) {
  Outcome o = Run({"connections"});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_NE(o.out.find("GPRS                 cellular  cmwap      "
                       "{436EF144-B4FB-4863-A041-8F905A62C572} connects\n"),
            std::string::npos)
      << o.out;

  o = Run({"connections", "add", "Slow wap", "--apn", "CMWAP",
           "--status-script", "0x40,0x26,0x10", "--dest",
           "{00000000-1111-2222-3333-444444444444}"});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "Slow wap {00000000-1111-2222-3333-444444444444}\n");

  // The library sees the entry the other process wrote.
  std::vector<connmgr::Entry> entries;
  ASSERT_TRUE(connmgr::ListEntries(&entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, L"Slow wap");
  EXPECT_EQ(entries[1].apn, L"CMWAP");
  EXPECT_EQ(entries[1].script, (std::vector<DWORD>{0x40, 0x26, 0x10}));

  o = Run({"connections"});
  EXPECT_NE(o.out.find("Slow wap             cellular  CMWAP      "
                       "{00000000-1111-2222-3333-444444444444} "
                       "0x40,0x26,0x10\n"),
            std::string::npos)
      << o.out;
}

TEST_F(ConnectionsCommandTest, UsageErrorsAreOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {"connections", "add", "x"},
      {"connections", "add", "x", "--apn"},
      {"connections", "add", "x", "--apn", "a", "--status-script", "0x40,"},
      {"connections", "add", "x", "--apn", "a", "--dest", "{1}"},
      {"connections", "add", "a\\b", "--apn", "a"},
      {"connections", "remove"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args.back());
    const Outcome o = Run(args);
    EXPECT_EQ(o.code, 2);
    EXPECT_EQ(o.err.rfind("mmsctl connections: ", 0), 0u) << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
  }
  const Outcome help = Run({"connections", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("usage: mmsctl connections", 0), 0u);
}

}  // namespace
