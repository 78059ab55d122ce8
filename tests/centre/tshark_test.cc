// tshark_test.cc: an independent reader accepts what the centre sends.
//
// The centre's pushes, and its m-send-conf and m-retrieve-conf wrapped the
// same way, go as UDP datagrams to the WAP push port in a small pcap that
// tshark's WSP and MMS dissectors read. A malformed packet or an expert
// warning or error fails; the fields tshark shows must be the centre's.
#include "support/tshark.h"

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "centre/centre_harness.h"
#include "codec/send_fixture.h"

namespace {

using mms::testing::Bytes;

using mms::testing::Shown;
using Packet = mms::testing::TsharkPacket;

class CentreTshark : public mms::testing::SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    if (!mms::testing::TsharkAvailable()) {
      GTEST_SKIP() << "tshark is not installed";
    }
    centre_ = std::make_unique<mms::testing::CentreProcess>(
        std::vector<std::string>{"--port", "0", "--push-to", sink_.address()});
    ASSERT_GT(centre_->port(), 0);
  }

  std::vector<Packet> Dissect(const std::vector<Bytes>& datagrams) {
    std::vector<Packet> packets =
        mms::testing::Dissect(mms::testing::PcapOfUdpDatagrams(datagrams, 2948),
                              root_.host() + "/../centre.pcap");
    EXPECT_EQ(packets.size(), datagrams.size());
    packets.resize(datagrams.size());
    return packets;
  }

  mms::testing::PushSink sink_;
  std::unique_ptr<mms::testing::CentreProcess> centre_;
};

TEST_F(CentreTshark, ReadsEveryPduTheCentreMakes) {
  auto message = NewMessage(MMS_Option{}, L"13800000001", "<smil/>");
  EXPECT_EQ(message->SetSubject(mms::testing::WBuf(L"Hello")), 1);
  AddFile(message.get(), PutFile(L"t.txt", std::string("some text")));
  Bytes sent;
  ASSERT_TRUE(Encode(message.get(), &sent));

  httplib::Client client("127.0.0.1", centre_->port());
  const auto conf = client.Post("//", std::string(sent.begin(), sent.end()),
                                "application/vnd.wap.mms-message");
  ASSERT_TRUE(conf);
  const Bytes note = sink_.Receive();
  ASSERT_GT(note.size(), 4u);
  std::string url(note.begin(), note.end());
  url = url.substr(url.find("http://"));
  url.resize(url.find('\0'));
  const std::string id = url.substr(url.rfind('/') + 1);
  const auto copy = client.Get(("//" + id).c_str());
  ASSERT_TRUE(copy);
  const std::string ack = std::string("\x8c\x85\x98", 3) + id +
                          std::string("\0\x8d\x90\x91\x80", 5);
  ASSERT_TRUE(client.Post("//", ack, "application/vnd.wap.mms-message"));
  const Bytes report = sink_.Receive();

  // The send-conf and the copy travel the same way for tshark's sake.
  auto wrapped = [](const std::string& pdu) {
    Bytes datagram = {0x00, 0x06, 0x01, 0xBE};
    datagram.insert(datagram.end(), pdu.begin(), pdu.end());
    return datagram;
  };
  std::vector<Packet> p = Dissect(std::vector<Bytes>{
      note, report, wrapped(conf->body), wrapped(copy->body)});

  EXPECT_EQ(Shown(p[0], "wsp.pdu_type"), "0x06");
  EXPECT_EQ(Shown(p[0], "mmse.message_type"), "0x82");
  EXPECT_EQ(Shown(p[0], "mmse.content_location"), url);
  EXPECT_EQ(Shown(p[0], "mmse.transaction_id"), id);
  EXPECT_EQ(Shown(p[0], "mmse.from"), "+8613800000000/TYPE=PLMN");
  EXPECT_EQ(Shown(p[0], "mmse.subject"), "Hello");
  EXPECT_EQ(Shown(p[0], "mmse.message_size"),
            std::to_string(copy->body.size()));

  const std::string message_id = id.substr(0, id.rfind('.'));
  EXPECT_EQ(Shown(p[1], "mmse.message_type"), "0x86");
  EXPECT_EQ(Shown(p[1], "mmse.message_id"), message_id);
  EXPECT_EQ(Shown(p[1], "mmse.to"), "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(Shown(p[1], "mmse.status"), "0x81");

  EXPECT_EQ(Shown(p[2], "mmse.message_type"), "0x81");
  EXPECT_EQ(Shown(p[2], "mmse.response_status"), "0x80");
  EXPECT_EQ(Shown(p[2], "mmse.message_id"), message_id);

  EXPECT_EQ(Shown(p[3], "mmse.message_type"), "0x84");
  EXPECT_EQ(Shown(p[3], "mmse.transaction_id"), id);
  EXPECT_EQ(Shown(p[3], "mmse.from"), "+8613800000000/TYPE=PLMN");
  EXPECT_EQ(Shown(p[3], "mmse.to"), "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(Shown(p[3], "mmse.subject"), "Hello");
}

}  // namespace
