// dump_test.cc: `mmsctl dump` as a user runs it: field names, offsets and
// decoded values of PDUs written by hand, and every cut-short prefix.
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

}  // namespace
