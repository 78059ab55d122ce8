// tshark_test.cc: an independent reader accepts what the centre sends.
//
// The centre's pushes, and its m-send-conf and m-retrieve-conf wrapped the
// same way, go as UDP datagrams to the WAP push port in a small pcap that
// tshark's WSP and MMS dissectors read. A malformed packet or an expert
// warning or error fails; the fields tshark shows must be the centre's.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "centre/centre_harness.h"
#include "codec/send_fixture.h"

namespace {

using mms::testing::Bytes;

void PutBe(Bytes* out, uint32_t v, int bytes) {
  while (bytes-- > 0) {
    out->push_back(static_cast<uint8_t>(v >> (8 * bytes)));
  }
}
void PutLe(Bytes* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out->push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

// Ethernet, IPv4 and UDP to 127.0.0.1:2948, one frame per datagram.
// Checksums stay 0: tshark does not check them unless asked.
Bytes Capture(const std::vector<Bytes>& datagrams) {
  Bytes file;
  for (uint32_t v : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 65535u, 1u}) {
    PutLe(&file, v, 4);  // magic, version 2.4, zone, accuracy, snap, Ethernet
  }
  uint16_t id = 0;
  for (const Bytes& datagram : datagrams) {
    Bytes frame(12, 0);  // MAC addresses
    PutBe(&frame, 0x0800, 2);
    PutBe(&frame, 0x4500, 2);
    PutBe(&frame, static_cast<uint32_t>(28 + datagram.size()), 2);
    PutBe(&frame, ++id, 2);
    PutBe(&frame, 0x40004011, 4);  // DF, TTL 64, UDP
    PutBe(&frame, 0, 2);
    PutBe(&frame, 0x7F000001, 4);
    PutBe(&frame, 0x7F000001, 4);
    PutBe(&frame, 40000, 2);
    PutBe(&frame, 2948, 2);
    PutBe(&frame, static_cast<uint32_t>(8 + datagram.size()), 2);
    PutBe(&frame, 0, 2);
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    PutLe(&file, 1237278605, 4);
    PutLe(&file, id, 4);
    PutLe(&file, static_cast<uint32_t>(frame.size()), 4);
    PutLe(&file, static_cast<uint32_t>(frame.size()), 4);
    file.insert(file.end(), frame.begin(), frame.end());
  }
  return file;
}

std::string Attribute(const std::string& line, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t start = line.find(key);
  if (start == std::string::npos) {
    return "";
  }
  const size_t from = start + key.size();
  std::string text = line.substr(from, line.find('"', from) - from);
  for (const auto& [entity, c] :
       std::vector<std::pair<std::string, std::string>>{
           {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
    for (size_t at; (at = text.find(entity)) != std::string::npos;) {
      text.replace(at, entity.size(), c);
    }
  }
  return text;
}

// Field name -> shown values, joined with "|".
using Packet = std::map<std::string, std::string>;

class CentreTshark : public mms::testing::SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    if (std::system("tshark --version > /dev/null 2>&1") != 0) {
      GTEST_SKIP() << "tshark is not installed";
    }
    centre_ = std::make_unique<mms::testing::CentreProcess>(
        std::vector<std::string>{"--port", "0", "--push-to", sink_.address()});
    ASSERT_GT(centre_->port(), 0);
  }

  std::vector<Packet> Dissect(const std::vector<Bytes>& datagrams) {
    const std::string path = root_.host() + "/../centre.pcap";
    mms::testing::WriteHostFile(path, Capture(datagrams));
    const std::string command =
        "tshark -n -r '" + path + "' -T pdml 2>/dev/null";
    std::string pdml;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n = 0; pipe && (n = fread(buffer, 1, sizeof buffer, pipe));) {
      pdml.append(buffer, n);
    }
    if (pipe != nullptr) {
      pclose(pipe);
    }
    std::remove(path.c_str());
    std::vector<Packet> packets;
    size_t at = 0;
    for (size_t end; (end = pdml.find('\n', at)) != std::string::npos;
         at = end + 1) {
      const std::string line = pdml.substr(at, end - at);
      if (line.find("<packet>") != std::string::npos) {
        packets.emplace_back();
      } else if (!packets.empty() &&
                 (line.find("<field ") != std::string::npos ||
                  line.find("<proto ") != std::string::npos)) {
        const std::string name = Attribute(line, "name");
        const std::string shown = Attribute(line, "showname");
        EXPECT_FALSE(name == "_ws.malformed" ||
                     shown.rfind("Expert Info (Error", 0) == 0 ||
                     shown.rfind("Expert Info (Warning", 0) == 0)
            << "packet " << packets.size() << ": " << shown;
        std::string& joined = packets.back()[name];
        joined += (joined.empty() ? "" : "|") + Attribute(line, "show");
      }
    }
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

  EXPECT_EQ(p[0]["wsp.pdu_type"], "0x06");
  EXPECT_EQ(p[0]["mmse.message_type"], "0x82");
  EXPECT_EQ(p[0]["mmse.content_location"], url);
  EXPECT_EQ(p[0]["mmse.transaction_id"], id);
  EXPECT_EQ(p[0]["mmse.from"], "+8613800000000/TYPE=PLMN");
  EXPECT_EQ(p[0]["mmse.subject"], "Hello");
  EXPECT_EQ(p[0]["mmse.message_size"], std::to_string(copy->body.size()));

  const std::string message_id = id.substr(0, id.rfind('.'));
  EXPECT_EQ(p[1]["mmse.message_type"], "0x86");
  EXPECT_EQ(p[1]["mmse.message_id"], message_id);
  EXPECT_EQ(p[1]["mmse.to"], "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(p[1]["mmse.status"], "0x81");

  EXPECT_EQ(p[2]["mmse.message_type"], "0x81");
  EXPECT_EQ(p[2]["mmse.response_status"], "0x80");
  EXPECT_EQ(p[2]["mmse.message_id"], message_id);

  EXPECT_EQ(p[3]["mmse.message_type"], "0x84");
  EXPECT_EQ(p[3]["mmse.transaction_id"], id);
  EXPECT_EQ(p[3]["mmse.from"], "+8613800000000/TYPE=PLMN");
  EXPECT_EQ(p[3]["mmse.to"], "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(p[3]["mmse.subject"], "Hello");
}

}  // namespace
