// dump_test.cc: `mmsctl dump` as a user runs it: field names, offsets and
// decoded values of PDUs from the encoder and by hand, every cut-short
// prefix, the sample corpus, and its usage errors.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "centre/centre_harness.h"
#include "codec/send_fixture.h"

namespace {

using mms::testing::Bytes;
using mms::testing::Hex;
using mms::testing::ToolRun;

class DumpTest : public mms::testing::SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    ASSERT_TRUE(std::filesystem::exists(mms::testing::kMmsctlBinary))
        << "build the mmsctl target first";
    scratch_ = root_.host() + "-scratch";
    std::filesystem::create_directories(scratch_);
  }
  void TearDown() override {
    std::filesystem::remove_all(scratch_);
    SendTest::TearDown();
  }

  std::string Put(const std::string& name, const Bytes& bytes) {
    const std::string path = scratch_ + "/" + name;
    mms::testing::WriteHostFile(path, bytes);
    return path;
  }

  ToolRun Dump(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"dump"};
    all.insert(all.end(), args.begin(), args.end());
    return mms::testing::RunTool(mms::testing::kMmsctlBinary, all, scratch_);
  }

  // Fails the test unless out holds the line "<offset>  <name...> <value>".
  static void ExpectLine(const std::string& out, const std::string& offset,
                         const std::string& name, const std::string& value) {
    const std::string start = offset + "  " + name;
    size_t at = 0;
    while ((at = out.find(start, at)) != std::string::npos) {
      const size_t end = out.find('\n', at);
      const std::string line = out.substr(at, end - at);
      if (line.size() >= value.size() &&
          line.compare(line.size() - value.size(), value.size(), value) == 0) {
        return;
      }
      at = end;
    }
    ADD_FAILURE() << "no line " << start << " ... " << value << " in\n" << out;
  }

  std::string scratch_;
};

TEST_F(DumpTest, NamesEveryFieldOfAnEncodedSendRequestAtItsOffset) {
  MMS_Option option = {};
  option.nPriority = 2;
  option.nExpiry = 24;
  option.nDeliveryTime = 1;
  option.nMessageClass = 2;
  option.bHideSender = 1;
  option.bDeliveryReport = 1;
  option.bReadReport = 1;
  auto message = NewMessage(option, L"13800000001", "<smil/>");
  EXPECT_EQ(message->SetSubject(mms::testing::WBuf(L"Hi")), 1);
  AddFile(message.get(), PutFile(L"a.jpg", Bytes(128, 0xFF)));
  Bytes pdu;
  ASSERT_TRUE(Encode(message.get(), &pdu));

  const ToolRun run = Dump({Put("send.mms", pdu)});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string& out = run.out;
  // The fixed start: type, the 21-byte transaction ID and its 0, version,
  // the 6-byte date, the 3-byte From, then To.
  ExpectLine(out, "0x0000", "X-Mms-Message-Type", "m-send-req (0x80)");
  ExpectLine(out, "0x0002", "X-Mms-Transaction-Id",
             "\"123727860513800000001\"");
  ExpectLine(out, "0x0019", "X-Mms-MMS-Version", "1.0 (0x90)");
  ExpectLine(out, "0x001b", "Date", "1237278605 (2009-03-17 08:30:05 UTC)");
  ExpectLine(out, "0x0021", "From",
             "Insert-address-token (the centre fills "
             "in the sender)");
  ExpectLine(out, "0x0024", "To", "\"+8613800000001/TYPE=PLMN\"");
  ExpectLine(out, "0x003e", "Subject", "\"Hi\" (charset utf-8)");
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{
           {"X-Mms-Message-Class", "Informational (0x82)"},
           {"X-Mms-Expiry", "relative 86400 seconds"},
           {"X-Mms-Delivery-Time", "relative 3600 seconds"},
           {"X-Mms-Priority", "High (0x82)"},
           {"X-Mms-Sender-Visibility", "Hide (0x80)"},
           {"X-Mms-Delivery-Report", "Yes (0x80)"},
           {"X-Mms-Read-Report", "Yes (0x80)"},
           {"Content-Type",
            "application/vnd.wap.multipart.related; "
            "type=\"application/smil\"; start=\"<CMSMMS>\""},
       }) {
    EXPECT_NE(out.find(name + std::string(28 - name.size(), ' ') + " " + value +
                       "\n"),
              std::string::npos)
        << name;
  }
  EXPECT_NE(out.find("(multipart body)             2 entries"),
            std::string::npos);
  EXPECT_NE(out.find("  Content-Type               application/smil; "
                     "name=\"cmms.smil\""),
            std::string::npos);
  // The picture's DataLen of 128 takes two bytes (81 00).
  EXPECT_NE(out.find("(entry 2)                    headers 26 bytes at "),
            std::string::npos);
  EXPECT_NE(out.find(", data 128 bytes at "), std::string::npos);
  EXPECT_NE(out.find("Content-ID                 \"<a.jpg>\""),
            std::string::npos);
  EXPECT_NE(out.find("Content-Location           \"a.jpg\""),
            std::string::npos);
}

TEST_F(DumpTest, DecodesValueFormsTheEncoderNeverWrites) {
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
  const ToolRun run = Dump({Put("report.mms", report)});
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
  const ToolRun two = Dump({Put("note.push", push), Put("plain.mms", plain)});
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

TEST_F(DumpTest, EveryCutShortPrefixSaysWhereItStopped) {
  auto message = NewMessage(MMS_Option{}, L"13800000001", "<smil/>");
  EXPECT_EQ(message->SetSubject(mms::testing::WBuf(L"Cut")), 1);
  AddFile(message.get(), PutFile(L"t.txt", std::string("text")));
  Bytes pdu;
  ASSERT_TRUE(Encode(message.get(), &pdu));
  pdu.push_back(0);  // a stored retrieval's padding is not an error
  pdu.push_back(0);

  std::vector<std::string> files;
  for (size_t n = 1; n <= pdu.size(); ++n) {
    files.push_back(
        Put("cut" + std::to_string(n), Bytes(pdu.begin(), pdu.begin() + n)));
  }
  const ToolRun run = Dump(files);
  ASSERT_EQ(run.code, 1) << "crashed or read every prefix whole";
  EXPECT_NE(run.out.find(files.back() + ": " + std::to_string(pdu.size()) +
                         " bytes\n"),
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

TEST_F(DumpTest, ReadsTheSampleCorpusWithoutLosingItsWay) {
  const std::filesystem::path corpus = mms::testing::CorpusDir();
  if (!std::filesystem::exists(corpus)) {
    GTEST_SKIP() << "no sample corpus";
  }
  // Whole PDUs only: the decoded parts and the garbage-by-design inputs
  // are not PDUs.
  std::vector<std::string> files;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(corpus)) {
    const std::string path = entry.path().string();
    if (!entry.is_regular_file() || path.find("/parts/") != std::string::npos ||
        path.find("Garbage") != std::string::npos ||
        path.find("Unparsable") != std::string::npos ||
        entry.path().extension() == ".md" ||
        entry.path().extension() == ".tsv") {
      continue;
    }
    files.push_back(path);
  }
  ASSERT_FALSE(files.empty());
  const ToolRun run = Dump(files);
  EXPECT_EQ(run.code, 0) << run.err;
  for (const std::string& file : files) {
    const size_t at = run.out.find(file + ": ");
    ASSERT_NE(at, std::string::npos) << file;
    EXPECT_NE(run.out.find("X-Mms-Message-Type", at), std::string::npos)
        << file;
  }
}

TEST_F(DumpTest, UsageErrorsAreOneLineEach) {
  const ToolRun help = Dump({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("usage: mmsctl dump FILE...", 0), 0u);

  const ToolRun none = Dump({});
  EXPECT_EQ(none.code, 2);
  EXPECT_EQ(none.err, "mmsctl dump: name a PDU file to dump\n");

  const ToolRun option = Dump({"--hex"});
  EXPECT_EQ(option.code, 2);
  EXPECT_EQ(option.err, "mmsctl dump: unknown option '--hex'\n");

  const std::string missing = scratch_ + "/missing.mms";
  const ToolRun gone = Dump({missing});
  EXPECT_EQ(gone.code, 1);
  EXPECT_EQ(gone.err, "mmsctl dump: cannot read '" + missing +
                          "': No such file or directory\n");

  const ToolRun folder = Dump({scratch_});
  EXPECT_EQ(folder.code, 1);
  EXPECT_EQ(folder.err,
            "mmsctl dump: cannot read '" + scratch_ + "': Is a directory\n");

  const ToolRun empty = Dump({Put("empty.mms", Bytes())});
  EXPECT_EQ(empty.code, 1);
  EXPECT_NE(empty.err.find("an empty file"), std::string::npos);
}

}  // namespace
