// mmsctl_test.cc: the mmsctl program as a user runs it on a private device
// root: `demo`, `save`, `dump`, `reg` and `connections`, one-line errors,
// and the network commands against the loopback centre, tinyproxy and the
// push router.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "centre/centre_harness.h"
#include "connmgr/connmgr_entries.h"
#include "mms.h"
#include "support/loopback.h"
#include "support/test_support.h"
#include "support/tshark.h"

namespace mmsctl {
namespace {

using mms::testing::Bytes;
using mms::testing::Contains;
using mms::testing::Hex;
using mms::testing::ReadHostFile;
using mms::testing::ToolProcess;
using mms::testing::ToolRun;
using mms::testing::WBuf;
using mms::testing::WriteHostFile;

const std::string kBin = MMS_BINARY_DIR;

// The value after "label" (and any blanks) up to the end of its line.
std::string Field(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos) {
    return "";
  }
  at += label.size();
  while (at < text.size() && text[at] == ' ') {
    ++at;
  }
  return text.substr(at, text.find('\n', at) - at);
}

class Mmsctl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kBin + "/mmsctl"))
        << "build the mmsctl target first";
    scratch_ = root_.host() + "-scratch";
    std::filesystem::create_directories(scratch_);
    // Nothing listens on any of these until a test starts it.
    setenv("MMS_DEVICE_ROOT", root_.host().c_str(), 1);
    SetAddress("MMS_WAP_PROXY", mms::testing::FreeTcpPort());
    SetAddress("MMS_MMSC_HOST", mms::testing::FreeTcpPort());
    SetAddress("MMS_PUSH_ADDR", mms::testing::FreeTcpPort());
    setenv("LSAN_OPTIONS",
           "suppressions=" MMS_SOURCE_DIR "/tests/tools/lsan_suppressions.txt",
           1);
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  static void SetAddress(const char* name, int port) {
    setenv(name, ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
  }
  static int PortOf(const char* name) {
    const std::string v = std::getenv(name);
    return std::stoi(v.substr(v.rfind(':') + 1));
  }

  ToolRun Run(const std::vector<std::string>& args) {
    return mms::testing::RunTool(kBin + "/mmsctl", args, scratch_);
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

  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteHostFile(scratch_ + "/" + name, bytes);
    return scratch_ + "/" + name;
  }
  std::string Picture() {
    return Put("dot.gif", Hex("47 49 46 38 39 61 01 00 01 00 80 00 00 ff 00 00"
                              "00 00 00 2c 00 00 00 00 01 00 01 00 00 02 02 44"
                              "01 00 3b"));
  }

  // Fails the test unless out holds the line "<offset>  <name...> <value>".
  static void ExpectLine(const std::string& out, const std::string& offset,
                         const std::string& name, const std::string& value) {
    const std::string start = offset + "  " + name;
    for (size_t at = 0; (at = out.find(start, at)) != std::string::npos;) {
      const std::string line = out.substr(at, out.find('\n', at) - at);
      if (line.size() >= value.size() &&
          line.compare(line.size() - value.size(), value.size(), value) == 0) {
        return;
      }
      at += start.size();
    }
    ADD_FAILURE() << "no line " << start << " ... " << value << " in\n" << out;
  }

  mms::testing::ScopedDeviceRoot root_;
  std::string scratch_;
};

TEST_F(Mmsctl, DemoShowsTheMessageAndSavesIt) {
  const ToolRun o = Run({"demo"});
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

  const std::string host = Field(o.out, "host:");
  ASSERT_EQ(std::vector<std::string>{host}, SavedFiles());
  EXPECT_EQ(0u, Field(o.out, "saved:").find("\\Windows\\Messaging\\Varnholt"));
  const Bytes pdu = ReadHostFile(host);
  EXPECT_EQ(std::to_string(pdu.size()) + " bytes", Field(o.out, "size:"));
  ASSERT_GE(pdu.size(), 2u);
  EXPECT_EQ(Hex("8c 80"), Bytes(pdu.begin(), pdu.begin() + 2));
  EXPECT_TRUE(Contains(pdu, Bytes{'G', 'I', 'F', '8', '9', 'a'}));
  EXPECT_TRUE(Contains(pdu, Bytes{'M', 'T', 'h', 'd'}));
}

TEST_F(Mmsctl, SaveComposesFilesTextDurationsAndOptions) {
  const std::string picture = scratch_ + "/photo.jpg";
  const std::string tune = scratch_ + "/ring.amr";
  WriteHostFile(picture, Hex("ff d8 ff e0 00 10 4a 46 49 46"));
  WriteHostFile(tune, std::string("#!AMR\n"));
  // clang-format off
  const ToolRun o = Run({"save", "--to", "13800000001", "--cc", "13900000002",
      "--subject", "Trip", "--slide", picture + "," + tune, "--text", "1",
      "see you", "--duration", "0", "4000", "--priority", "high", "--class",
      "auto", "--hide-sender", "--delivery-report", "--read-report"});
  // clang-format on
  ASSERT_EQ(0, o.code) << o.err;
  EXPECT_EQ("", o.err);
  const std::string host = Field(o.out, "host:");
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

TEST_F(Mmsctl, DumpDecodesValueFormsTheEncoderNeverWrites) {
  const Bytes report =
      Hex("8c 86"                       // X-Mms-Message-Type m-delivery-ind
          "8d 92"                       // X-Mms-MMS-Version 1.2
          "8b 49 44 37 00"              // Message-ID "ID7"
          "97 07 02 07 ea 41 42 43 00"  // To: "ABC" in big5, a Long-integer
                                        // charset
          "85 04 49 af 71 00"           // Date 1236234496
          "95 82"                       // X-Mms-Status Rejected
          "58 2d 54 61 67 00 6f 6e 00"  // application header X-Tag: "on"
          "c5 03 01 02 03"              // a code no version assigns, 3 bytes
          "89 0a 80 2b 38 36 31 33 38 30 30 00"  // From, address present
          "88 06 80 04 49 af 71 00"              // X-Mms-Expiry, absolute
          "92 e1"  // X-Mms-Response-Status, permanent
      );
  const ToolRun run = Run({"dump", Put("report.mms", report)});
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  ExpectLine(run.out, "0x0000", "X-Mms-Message-Type", "m-delivery-ind (0x86)");
  ExpectLine(run.out, "0x0002", "X-Mms-MMS-Version", "1.2 (0x92)");
  ExpectLine(run.out, "0x0004", "Message-ID", "\"ID7\"");
  ExpectLine(run.out, "0x0009", "To", "\"ABC\" (charset big5)");
  ExpectLine(run.out, "0x0012", "Date", "1236234496 (2009-03-05 06:28:16 UTC)");
  ExpectLine(run.out, "0x0018", "X-Mms-Status", "Rejected (0x82)");
  ExpectLine(run.out, "0x001a", "\"X-Tag\" (application)", "\"on\"");
  ExpectLine(run.out, "0x0023", "unassigned field 0x45", "03 01 02 03");
  ExpectLine(run.out, "0x0028", "From", "\"+8613800\"");
  ExpectLine(run.out, "0x0034", "X-Mms-Expiry",
             "absolute 1236234496 (2009-03-05 06:28:16 UTC)");
  ExpectLine(run.out, "0x003c", "X-Mms-Response-Status",
             "Error-permanent-service-denied (0xe1)");

  // A WSP push of a notification: unwrapped, then read as a PDU; a body
  // that is not multipart is only measured.
  const Bytes push =
      Hex("07 06 03 be af 84"  // TID, Push, headers: type, X-Wap-Application-Id
          "8c 82 98 54 00 8d 90 83 68 74 74 70 3a 2f 2f 61 2f 62 00");
  const Bytes plain = Hex("8c 84 98 54 00 84 83 68 65 6c 6c 6f");
  const ToolRun two =
      Run({"dump", Put("note.push", push), Put("plain.mms", plain)});
  ASSERT_EQ(two.code, 0) << two.err;
  ExpectLine(two.out, "0x0000", "(WSP push)", "Push, TID 7, headers 3 bytes");
  ExpectLine(two.out, "0x0003", "Content-Type",
             "application/vnd.wap.mms-message");
  ExpectLine(two.out, "0x0004", "X-Wap-Application-Id", "4");
  ExpectLine(two.out, "0x0006", "X-Mms-Message-Type",
             "m-notification-ind (0x82)");
  ExpectLine(two.out, "0x000d", "X-Mms-Content-Location", "\"http://a/b\"");
  ExpectLine(two.out, "0x0005", "Content-Type", "text/plain");
  ExpectLine(two.out, "0x0007", "(body)", "5 bytes");
}

TEST_F(Mmsctl, DumpOfEveryCutShortPrefixSaysWhereItStopped) {
  const ToolRun saved = Run({"save", "--to", "13800000001", "--subject", "Cut",
                             "--text", "0", "text"});
  ASSERT_EQ(0, saved.code) << saved.err;
  Bytes pdu = ReadHostFile(Field(saved.out, "host:"));
  pdu.push_back(0);  // a stored retrieval's padding is not an error
  pdu.push_back(0);

  std::vector<std::string> files = {"dump"};
  for (size_t n = 1; n <= pdu.size(); ++n) {
    files.push_back(
        Put("cut" + std::to_string(n), Bytes(pdu.begin(), pdu.begin() + n)));
  }
  const ToolRun run = Run(files);
  ASSERT_EQ(run.code, 1) << "crashed or read every prefix whole";
  EXPECT_NE(run.out.find(files.back() + ": " + std::to_string(pdu.size()) +
                         " bytes\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("(multipart body)             2 entries\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("(after the entries)          2 bytes: 00 00"),
            std::string::npos);

  // Every complaint names its file and an offset inside it; only the
  // prefixes that end between fields or after the last entry read whole.
  size_t complaints = 0;
  size_t at = 0;
  while ((at = run.err.find("mmsctl dump: '", at)) != std::string::npos) {
    const size_t end = run.err.find('\n', at);
    const std::string line = run.err.substr(at, end - at);
    unsigned offset = 0;
    unsigned size = 0;
    const size_t stopped = line.find("stopped at offset ");
    ASSERT_NE(stopped, std::string::npos) << line;
    ASSERT_EQ(std::sscanf(line.c_str() + stopped, "stopped at offset %x of %u",
                          &offset, &size),
              2)
        << line;
    EXPECT_LE(offset, size) << line;
    ++complaints;
    at = end;
  }
  EXPECT_GT(complaints, pdu.size() * 3 / 4);
  EXPECT_LT(complaints, pdu.size());
}

TEST_F(Mmsctl, ReceivedValuesArePrintedWithControlsEscaped) {
  // What a hostile push may leave: a screen-clearing escape sequence, a
  // forged line and a C1 control.
  WBuf key(L"software\\varnholt\\MMS");
  RegSetDword(HKEY_LOCAL_MACHINE, key, WBuf(L"WapType"), 130);
  RegSetString(key, WBuf(L"WapUrl"),
               WBuf(L"http://x/\x1b[2J\r\nWapUrl: forged\x9b"));
  const ToolRun o = Run({"reg"});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out.find_first_of("\x1b\r"), std::string::npos) << o.out;
  EXPECT_NE(
      o.out.find("\"http://x/\\x1b[2J\\x0d\\x0aWapUrl: forged\\xc2\\x9b\""),
      std::string::npos)
      << o.out;
}

TEST_F(Mmsctl, ErrorsGiveOneLineAndTheirExitCodeAndHelpAnswers) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const Case cases[] = {
      {{"save"}, 2, "--to is required"},
      {{"save", "--to", "12a"}, 2, "not a phone number"},
      {{"save", "--to", "1", "--text", "32", "t"}, 2, "bad slide number"},
      {{"save", "--to", "1", "--expiry", "soon"}, 2, "bad expiry"},
      {{"save", "--to", "1", "--priority", "urgent"}, 2, "bad priority"},
      {{"save", "--to", "1", "--duration", "2", "100"}, 2, "holds nothing"},
      {{"save", "--to", "1", "--subject"}, 2, "needs a value"},
      {{"save", "--to", "1", "--frobnicate"}, 2, "unknown argument"},
      {{"save", "--to", "1", "--slide", "/no/such/file.jpg"},
       1,
       "no such file: /no/such/file.jpg"},
      {{"demo", "extra"}, 2, "takes no arguments"},
      {{"send", "--to", "1380", "--timeout", "soon"}, 2, "--timeout"},
      {{"retrieve", "http://a/1", "http://a/2"},
       2,
       "unexpected argument 'http://a/2'"},
      {{"retrieve", "http://a/" + std::string(260, 'x')}, 2, "longer than 259"},
      {{"read-report", "13a80", "seen"}, 2, "bad number '13a80'"},
      {{"listen", "--count", "0"}, 2, "--count"},
      {{"connections", "add", "x", "--apn", "a", "--status-script", "0x40,"},
       2,
       ""},
      {{"connections", "add", "a\\b", "--apn", "a"}, 2, ""},
      {{"open", "/no/such/file.mms"}, 1, ""},
      {{"open", "a", "b"}, 2, ""},
      {{"dump"}, 2, "name a PDU file to dump"},
      {{"dump", "/no/such.mms"}, 1, "cannot read '/no/such.mms'"},
  };
  for (const Case& c : cases) {
    const ToolRun o = Run(c.args);
    SCOPED_TRACE(c.args.back());
    EXPECT_EQ(c.code, o.code) << o.err;
    EXPECT_EQ(0u, o.err.find("mmsctl " + c.args[0] + ": ")) << o.err;
    EXPECT_NE(std::string::npos, o.err.find(c.says)) << o.err;
    EXPECT_EQ(o.err.size() - 1, o.err.find('\n')) << "one line: " << o.err;
  }
  EXPECT_TRUE(SavedFiles().empty());
  for (const char* command : {"save", "demo", "send", "retrieve", "read-report",
                              "listen", "connections", "open", "dump"}) {
    const ToolRun o = Run({command, "--help"});
    EXPECT_EQ(0, o.code) << command;
    EXPECT_EQ(0u, o.out.find(std::string("usage: mmsctl ") + command));
  }
}

TEST_F(Mmsctl, ConnectionsListsTheNewDevicesEntryAndAddsOne) {
  ToolRun o = Run({"connections"});
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
  std::vector<mms::connmgr::Entry> entries;
  ASSERT_TRUE(mms::connmgr::ListEntries(&entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, L"Slow wap");
  EXPECT_EQ(entries[1].apn, L"CMWAP");
  EXPECT_EQ(entries[1].script, (std::vector<DWORD>{0x40, 0x26, 0x10}));
}

TEST_F(Mmsctl, NothingListeningIsNamed) {
  const std::string proxy = std::getenv("MMS_WAP_PROXY");
  const std::string centre = std::getenv("MMS_MMSC_HOST");
  const std::string picture = Picture();
  auto expect = [&](const std::vector<std::string>& args,
                    const std::string& what) {
    const ToolRun o = Run(args);
    EXPECT_EQ(1, o.code) << o.err;
    EXPECT_EQ(0u, o.err.find("mmsctl " + args[0] + ": ")) << o.err;
    EXPECT_NE(std::string::npos, o.err.find(what)) << o.err;
  };
  const std::string unreachable = "WAP proxy " + proxy + " is unreachable";
  expect({"send", "--to", "13800000001", "--slide", picture}, unreachable);
  expect({"listen", "--timeout", "1"}, "no push router is running");

  mms::testing::TinyProxy tinyproxy;
  ASSERT_TRUE(tinyproxy.running());
  setenv("MMS_WAP_PROXY", tinyproxy.address().c_str(), 1);
  expect({"send", "--to", "13800000001", "--slide", picture},
         "MMS centre " + centre + " is unreachable");
  // Refused before anything was submitted or stored.
  EXPECT_TRUE(SavedFiles().empty());
}

// The real programs with operators' habits: locations with a query,
// chunked answers, messages without transaction ID, refused recipients.
// The listener (another process) records the notification; retrieve
// answers with an m-notifyresp-ind carrying its ID, which tshark reads
// clean; a read report returns once its submission reached the centre.
TEST_F(Mmsctl, NetworkCommandsAgainstAnOperatorsCentre) {
  mms::testing::TinyProxy tinyproxy;
  ASSERT_TRUE(tinyproxy.running());
  setenv("MMS_WAP_PROXY", tinyproxy.address().c_str(), 1);
  const std::string store = scratch_ + "/store";
  ToolProcess router(kBin + "/mms-pushrouter", {});
  ToolProcess centre(
      mms::testing::kCentreBinary,
      {"--port", std::to_string(PortOf("MMS_MMSC_HOST")), "--push-to",
       std::getenv("MMS_PUSH_ADDR"), "--location", "/m/get?l={id}&r=7",
       "--chunked", "--omit-transaction-id", "--store", store});
  ASSERT_NE("", centre.WaitFor("listening on", 10000));
  ASSERT_NE("", router.WaitFor("listening on", 10000));
  ToolProcess listener(kBin + "/mmsctl",
                       {"listen", "--count", "1", "--timeout", "60"});
  ASSERT_NE("", listener.WaitFor("listening for pushes", 10000));

  const ToolRun refused = Run(
      {"send", "--to", "1380+0001", "--slide", Picture(), "--timeout", "30"});
  EXPECT_EQ(1, refused.code) << refused.err;
  EXPECT_EQ("2", Field(refused.out, "SendOK:"));
  EXPECT_EQ("132 (Error-sending-address-unresolved)",
            Field(refused.out, "Response-Status:"));
  EXPECT_EQ("unknown recipient +861380+0001/TYPE=PLMN",
            Field(refused.out, "Response-Text:"));
  EXPECT_NE(std::string::npos, refused.err.find("refused the message"));

  const ToolRun sent = Run(
      {"send", "--to", "13800000001", "--slide", Picture(), "--timeout", "30"});
  ASSERT_EQ(0, sent.code) << sent.err;
  const std::string url = Field(listener.WaitFor("WapUrl:", 20000), "WapUrl:");
  const size_t at = url.find("/m/get?l=");
  ASSERT_NE(std::string::npos, at) << url;
  const std::string id = url.substr(at + 9, url.find('&') - at - 9);

  const ToolRun fetched = Run({"retrieve", url, "--timeout", "30"});
  ASSERT_EQ(0, fetched.code) << fetched.err;
  EXPECT_EQ("1", Field(fetched.out, "NewMMS:"));
  EXPECT_NE("", centre.WaitFor("served /m/get?l=" + id + "&r=7 ("))
      << centre.log();
  EXPECT_NE("", centre.WaitFor("took m-notifyresp-ind (Retrieved) for " + id))
      << centre.log();

  const ToolRun read = Run({"read-report", "13800000000", "seen"});
  ASSERT_EQ(0, read.code) << read.err;
  EXPECT_NE("", centre.WaitFor("accepted m-send-req")) << centre.log();

  if (!mms::testing::TsharkAvailable()) {
    return;  // the bytes' independent reading needs tshark
  }
  const Bytes response = ReadHostFile(store + "/" + id + ".notifyresp.mms");
  const auto packets = mms::testing::Dissect(
      mms::testing::PcapOfHttpPosts({response}), scratch_ + "/resp.pcap");
  ASSERT_EQ(1u, packets.size());
  EXPECT_EQ("0x83", mms::testing::Shown(packets[0], "mmse.message_type"));
  EXPECT_EQ(id, mms::testing::Shown(packets[0], "mmse.transaction_id"));
  EXPECT_EQ("0x81", mms::testing::Shown(packets[0], "mmse.status"));
}

}  // namespace
}  // namespace mmsctl
