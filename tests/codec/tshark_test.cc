// tshark_test.cc: an independent reader accepts what the encoder writes.
//
// Each send request goes as the body of an HTTP POST into a small pcap
// (Ethernet, IPv4, TCP to 127.0.0.1:80, one connection each) that tshark's
// MMS dissector reads. A malformed packet or an expert warning or error
// fails; the fields tshark reports must equal what was encoded. The image
// dissectors are off: the test's image bytes are not real images.
#include "support/tshark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "send_fixture.h"

namespace mms::testing {
namespace {

using Packet = TsharkPacket;

class Tshark : public SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    if (!TsharkAvailable()) {
      GTEST_SKIP() << "tshark is not installed";
    }
  }

  // The MMS packets tshark finds, in order; fails on any malformed packet
  // or expert warning or error.
  std::vector<Packet> Dissect(const std::vector<Bytes>& pdus) {
    std::vector<Packet> mms;
    for (Packet& packet : mms::testing::Dissect(
             PcapOfHttpPosts(pdus), root_.host() + "/../send.pcap",
             "--disable-protocol image-gif,image-jfif,png")) {
      if (packet.count("mmse.message_type") != 0) {
        mms.push_back(std::move(packet));
      }
    }
    EXPECT_EQ(mms.size(), pdus.size());
    mms.resize(pdus.size());
    return mms;
  }

  Bytes Pdu(MMS_Custom_Data* message) {
    Bytes pdu;
    EXPECT_TRUE(Encode(message, &pdu));
    return pdu;
  }
};

const std::string kRelated = "application/vnd.wap.multipart.related";

TEST_F(Tshark, ReadsPlainAndFullSendRequests) {
  auto plain = NewMessage();
  MMS_Option option = {2, 24, 2, 0, 2, 1, 1, 1, 0};
  auto full = NewMessage(option, L"13800000001", "<smil><body/></smil>");
  full->AddCcName(WBuf(L"13900000002"));
  full->AddCcName(WBuf(L"+8613700000003"));
  full->SetCcNumber(2);
  ASSERT_EQ(full->SetSubject(WBuf(L"\u4e2d\u6587\u4e3b\u9898")), 1);
  const std::string names[] = {"a.jpg", "b.gif", "c.png", "d.bmp", "e.amr",
                               "f.mp3", "g.txt", "h.3gp", "i.smil"};
  std::string listed = "cmms.smil";
  for (const std::string& name : names) {
    AddFile(full.get(),
            PutFile(std::wstring(name.begin(), name.end()), "data of " + name));
    listed += "|" + (name == "i.smil" ? "cmms.smil" : name);
  }
  const std::vector<Packet> packets =
      Dissect({Pdu(plain.get()), Pdu(full.get())});

  const Packet& p = packets[0];
  EXPECT_EQ(Shown(p, "mmse.message_type"), "0x80");
  EXPECT_EQ(Shown(p, "mmse.transaction_id"),
            std::string(kFixedSeconds) + "13800000001");
  EXPECT_EQ(Shown(p, "mmse.mms_version"), "1.0");
  EXPECT_EQ(Shown(p, "mmse.date"), "Mar 17, 2009 08:30:05.000000000 UTC");
  EXPECT_EQ(Shown(p, "mmse.from"), "<insert address>");
  EXPECT_EQ(Shown(p, "mmse.to"), "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(p.count("mmse.cc") + p.count("mmse.subject") +
                p.count("mmse.priority") + p.count("mmse.expiry.rel"),
            0u);
  EXPECT_EQ(Shown(p, "wsp.header.content_type"),
            kRelated + "|application/smil");
  EXPECT_EQ(Shown(p, "wsp.parameter.upart.type"), "application/smil");
  EXPECT_EQ(Shown(p, "wsp.parameter.start"), "<CMSMMS>");
  EXPECT_EQ(Shown(p, "wsp.header.content_id"), "\"<CMSMMS>\"");

  const Packet& f = packets[1];
  EXPECT_EQ(Shown(f, "mmse.cc"),
            "+8613900000002/TYPE=PLMN|+8613700000003/TYPE=PLMN");
  // tshark shows the UTF-8 subject undecoded; check the bytes it covers
  // (the text quoted by 127, since it starts with a byte above 127).
  ASSERT_EQ(f.count("mmse.subject"), 1u);
  EXPECT_EQ(f.find("mmse.subject")->second.value,
            "960fea7f"
            "e4b8ad"
            "e69687"
            "e4b8bb"
            "e9a298"
            "00");
  EXPECT_EQ(Shown(f, "mmse.message_class.id"), "0x82");
  EXPECT_EQ(Shown(f, "mmse.expiry.rel"), "86400.000000000");
  EXPECT_EQ(Shown(f, "mmse.delivery_time.rel"), "86400.000000000");
  EXPECT_EQ(Shown(f, "mmse.priority"), "0x82");
  EXPECT_EQ(Shown(f, "mmse.sender_visibility"), "0x80");
  EXPECT_EQ(Shown(f, "mmse.delivery_report"), "0x80");
  EXPECT_EQ(Shown(f, "mmse.read_report"), "0x80");
  EXPECT_EQ(Shown(f, "wsp.multipart"), "1|2|3|4|5|6|7|8|9|10");
  EXPECT_EQ(Shown(f, "wsp.header.content_type"),
            kRelated +
                "|application/smil|image/jpeg|image/gif|image/png"
                "|image/*|audio/midi|audio/midi|text/plain"
                "|application/octet-stream|application/smil");
  EXPECT_EQ(Shown(f, "wsp.parameter.name"), listed);
  EXPECT_EQ(Shown(f, "wsp.header.content_location"), listed);
  EXPECT_EQ(Shown(f, "wsp.parameter.charset"), "UTF-8");
  // Each file's entry ends with the file's bytes.
  auto entry = f.equal_range("wsp.multipart").first;
  for (const std::string& name : names) {
    std::string hex = ToHex(Text("data of " + name, false));
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    const std::string& covered = (++entry)->second.value;
    EXPECT_EQ(covered.substr(covered.size() - hex.size()), hex) << name;
  }
}

// The Length-quote forms, multi-byte HeadersLen and entry count, and the
// option fallbacks read as standard.
TEST_F(Tshark, ReadsLongFormsAndFallbacks) {
  MMS_Option option = {3, 1, 7, 0, 4, 0, 0, 0, 0};
  auto fallback = NewMessage(option, L"");
  ASSERT_EQ(fallback->SetSubject(WBuf(std::wstring(40, L'S'))), 1);
  const std::string long_name = std::string(60, 'n') + ".dat";
  AddFile(fallback.get(),
          PutFile(std::wstring(long_name.begin(), long_name.end()), "xyz"));
  auto many = NewMessage();
  const std::wstring path = PutFile(L"t.txt", "t");
  for (int i = 0; i < 130; ++i) {
    AddFile(many.get(), path);
  }
  const std::vector<Packet> packets =
      Dissect({Pdu(fallback.get()), Pdu(many.get())});

  const Packet& f = packets[0];
  EXPECT_EQ(Shown(f, "mmse.transaction_id"), kFixedSeconds);
  EXPECT_EQ(f.count("mmse.to"), 0u);
  EXPECT_EQ(Shown(f, "mmse.subject"), std::string(40, 'S'));
  EXPECT_EQ(Shown(f, "mmse.message_class.id"), "0x80");
  EXPECT_EQ(Shown(f, "mmse.expiry.rel"), "3600.000000000");
  EXPECT_EQ(Shown(f, "mmse.delivery_time.rel"), "0.000000000");
  EXPECT_EQ(Shown(f, "mmse.priority"), "0x81");
  EXPECT_EQ(Shown(f, "wsp.header.content_type"),
            kRelated + "|application/smil|application/octet-stream");
  EXPECT_EQ(Shown(f, "wsp.header.content_location"), "cmms.smil|" + long_name);
  EXPECT_EQ(packets[1].count("wsp.multipart"), 131u);
}

}  // namespace
}  // namespace mms::testing
