// tshark_test.cc: an independent reader accepts what the encoder writes.
//
// Each kind of send request is wrapped as the body of an HTTP POST in a
// small pcap (Ethernet, IPv4, TCP on 127.0.0.1:80) and handed to tshark's
// MMS dissector. A malformed packet or an expert error fails the test, and
// the fields tshark reports must equal what was encoded. The image
// dissectors are disabled: the test's image bytes are not real images.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "send_fixture.h"

namespace mms::testing {
namespace {

// ---------------------------------------------------------------------------
// A pcap of TCP connections from 127.0.0.1 to 127.0.0.1:80.

void Put16(Bytes* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}
void Put32(Bytes* out, uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v & 0xFFFF);
}
// pcap headers are little-endian (the magic tells readers so).
void Put16Le(Bytes* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32Le(Bytes* out, uint32_t v) {
  Put16Le(out, v & 0xFFFF);
  Put16Le(out, v >> 16);
}

uint16_t Checksum(const Bytes& bytes, uint32_t sum = 0) {
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    sum += (bytes[i] << 8) | bytes[i + 1];
  }
  if (bytes.size() % 2 != 0) {
    sum += bytes.back() << 8;
  }
  while (sum >> 16) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint16_t>(~sum);
}

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint8_t kSyn = 0x02;
constexpr uint8_t kAck = 0x10;
constexpr uint8_t kPsh = 0x08;

class PcapWriter {
 public:
  PcapWriter() {
    Put32Le(&file_, 0xA1B2C3D4);  // microsecond timestamps
    Put16Le(&file_, 2);
    Put16Le(&file_, 4);
    Put32Le(&file_, 0);           // GMT offset
    Put32Le(&file_, 0);           // accuracy
    Put32Le(&file_, 65535);       // snap length
    Put32Le(&file_, 1);           // Ethernet
  }

  void Segment(uint16_t port, bool to_server, uint32_t seq, uint32_t ack,
               uint8_t flags, const Bytes& payload) {
    Bytes tcp;
    Put16(&tcp, to_server ? port : 80);
    Put16(&tcp, to_server ? 80 : port);
    Put32(&tcp, seq);
    Put32(&tcp, ack);
    tcp.push_back(5 << 4);  // 20-byte header
    tcp.push_back(flags);
    Put16(&tcp, 65535);     // window
    Put16(&tcp, 0);         // checksum, below
    Put16(&tcp, 0);         // urgent
    tcp.insert(tcp.end(), payload.begin(), payload.end());
    Bytes pseudo;
    Put32(&pseudo, kLoopback);
    Put32(&pseudo, kLoopback);
    Put16(&pseudo, 6);
    Put16(&pseudo, static_cast<uint32_t>(tcp.size()));
    uint32_t sum = 0;
    for (size_t i = 0; i < pseudo.size(); i += 2) {
      sum += (pseudo[i] << 8) | pseudo[i + 1];
    }
    const uint16_t tcp_sum = Checksum(tcp, sum);
    tcp[16] = static_cast<uint8_t>(tcp_sum >> 8);
    tcp[17] = static_cast<uint8_t>(tcp_sum);

    Bytes ip;
    ip.push_back(0x45);
    ip.push_back(0);
    Put16(&ip, static_cast<uint32_t>(20 + tcp.size()));
    Put16(&ip, ++ip_id_);
    Put16(&ip, 0x4000);  // don't fragment
    ip.push_back(64);
    ip.push_back(6);     // TCP
    Put16(&ip, 0);
    Put32(&ip, kLoopback);
    Put32(&ip, kLoopback);
    const uint16_t ip_sum = Checksum(ip);
    ip[10] = static_cast<uint8_t>(ip_sum >> 8);
    ip[11] = static_cast<uint8_t>(ip_sum);

    Bytes frame(12, 0);  // MAC addresses
    Put16(&frame, 0x0800);
    frame.insert(frame.end(), ip.begin(), ip.end());
    frame.insert(frame.end(), tcp.begin(), tcp.end());

    Put32Le(&file_, 1237278605);
    Put32Le(&file_, ++usec_);
    Put32Le(&file_, static_cast<uint32_t>(frame.size()));
    Put32Le(&file_, static_cast<uint32_t>(frame.size()));
    file_.insert(file_.end(), frame.begin(), frame.end());
  }

  // One connection from the given client port: handshake, then the
  // request in segments of at most 1400 bytes, each acknowledged.
  void Post(uint16_t port, const Bytes& request) {
    const uint32_t client = 1000;
    const uint32_t server = 5000;
    Segment(port, true, client, 0, kSyn, {});
    Segment(port, false, server, client + 1, kSyn | kAck, {});
    Segment(port, true, client + 1, server + 1, kAck, {});
    uint32_t seq = client + 1;
    for (size_t pos = 0; pos < request.size(); pos += 1400) {
      const size_t n = std::min<size_t>(1400, request.size() - pos);
      Segment(port, true, seq, server + 1, kAck | kPsh,
              Bytes(request.begin() + pos, request.begin() + pos + n));
      seq += static_cast<uint32_t>(n);
      Segment(port, false, server + 1, seq, kAck, {});
    }
  }

  const Bytes& bytes() const { return file_; }

 private:
  Bytes file_;
  uint16_t ip_id_ = 0;
  uint32_t usec_ = 0;
};

Bytes HttpPost(const Bytes& pdu) {
  const std::string head =
      "POST /mms HTTP/1.1\r\n"
      "Host: 127.0.0.1\r\n"
      "Content-Type: application/vnd.wap.mms-message\r\n"
      "Content-Length: " +
      std::to_string(pdu.size()) + "\r\n\r\n";
  Bytes request(head.begin(), head.end());
  request.insert(request.end(), pdu.begin(), pdu.end());
  return request;
}

// ---------------------------------------------------------------------------
// Running tshark.

const char kDisabled[] = "--disable-protocol image-gif,image-jfif,png";

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return output;
  }
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    output.append(buffer, n);
  }
  pclose(pipe);
  return output;
}

// One packet's fields as tshark's PDML gives them, by field name, in order.
struct Field {
  std::string show;   // the value as tshark shows it
  std::string value;  // hex of the bytes the field covers
};
using Packet = std::multimap<std::string, Field>;

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const size_t end = text.find(';', i);
    const std::string entity = text.substr(i + 1, end - i - 1);
    if (entity == "quot") {
      out += '"';
    } else if (entity == "lt") {
      out += '<';
    } else if (entity == "gt") {
      out += '>';
    } else if (entity == "amp") {
      out += '&';
    } else if (entity == "apos") {
      out += '\'';
    } else {
      out += "&" + entity + ";";
    }
    i = end;
  }
  return out;
}

std::string Attribute(const std::string& line, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t start = line.find(key);
  if (start == std::string::npos) {
    return "";
  }
  const size_t from = start + key.size();
  return Unescape(line.substr(from, line.find('"', from) - from));
}

std::string HexOf(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

bool HaveTshark() {
  return std::system("tshark --version > /dev/null 2>&1") == 0;
}

class Tshark : public SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    if (!HaveTshark()) {
      GTEST_SKIP() << "tshark is not installed";
    }
  }

  // Dissects the PDUs, one connection each. Fails on a malformed packet or
  // an expert warning or error anywhere; returns the MMS packets in order.
  std::vector<Packet> Dissect(const std::vector<Bytes>& pdus) {
    PcapWriter pcap;
    uint16_t port = 40000;
    for (const Bytes& pdu : pdus) {
      pcap.Post(port++, HttpPost(pdu));
    }
    const std::string path = root_.host() + "/../send.pcap";
    WriteHostFile(path, pcap.bytes());
    std::istringstream pdml(RunCommand("tshark -n -r '" + path + "' " +
                                       kDisabled + " -T pdml 2>/dev/null"));
    std::vector<Packet> mms;
    Packet packet;
    std::string line;
    while (std::getline(pdml, line)) {
      if (line.find("<packet>") != std::string::npos) {
        packet.clear();
      } else if (line.find("</packet>") != std::string::npos) {
        if (packet.count("mmse.message_type") != 0) {
          mms.push_back(packet);
        }
      } else if (line.find("<field ") != std::string::npos ||
                 line.find("<proto ") != std::string::npos) {
        const std::string showname = Attribute(line, "showname");
        const bool bad =
            Attribute(line, "name") == "_ws.malformed" ||
            showname.rfind("Expert Info (Error", 0) == 0 ||
            showname.rfind("Expert Info (Warning", 0) == 0;
        EXPECT_FALSE(bad) << "packet " << mms.size() << ": " << showname;
        packet.emplace(Attribute(line, "name"),
                       Field{Attribute(line, "show"),
                             Attribute(line, "value")});
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

// Every shown value of a field, joined with "|".
std::string Shown(const Packet& packet, const std::string& name) {
  std::string joined;
  auto range = packet.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) {
    joined += (joined.empty() ? "" : "|") + it->second.show;
  }
  return joined;
}

std::string Covered(const Packet& packet, const std::string& name) {
  auto it = packet.find(name);
  return it == packet.end() ? "" : it->second.value;
}

// The PDU's own Content-Type, then each entry's.
const char kRelated[] = "application/vnd.wap.multipart.related";

TEST_F(Tshark, ReadsPlainAndFullSendRequests) {
  auto plain = NewMessage();

  MMS_Option option = {};
  option.nMessageClass = 2;
  option.nExpiry = 24;
  option.nDeliveryTime = 2;
  option.nPriority = 2;
  option.bHideSender = 1;
  option.bDeliveryReport = 1;
  option.bReadReport = 1;
  auto full = NewMessage(option, L"13800000001",
                         "<smil><body><par dur=\"5000ms\"/></body></smil>");
  full->AddCcName(WBuf(L"13900000002"));
  full->AddCcName(WBuf(L"+8613700000003"));
  full->SetCcNumber(2);
  ASSERT_EQ(full->SetSubject(WBuf(L"\u4e2d\u6587\u4e3b\u9898")), 1);
  const char* names[] = {"a.jpg", "b.gif", "c.png",  "d.bmp",   "e.amr",
                         "f.mp3", "g.txt", "h.3gp",  "own.smil"};
  for (const char* name : names) {
    const std::string text = std::string("data of ") + name;
    AddFile(full.get(),
            PutFile(std::wstring(name, name + std::strlen(name)), text));
  }

  const std::vector<Packet> packets =
      Dissect({Pdu(plain.get()), Pdu(full.get())});
  ASSERT_EQ(packets.size(), 2u);

  const Packet& p = packets[0];
  EXPECT_EQ(Shown(p, "mmse.message_type"), "0x80");
  EXPECT_EQ(Shown(p, "mmse.transaction_id"),
            std::string(kFixedSeconds) + "13800000001");
  EXPECT_EQ(Shown(p, "mmse.mms_version"), "1.0");
  EXPECT_EQ(Shown(p, "mmse.date"), "Mar 17, 2009 08:30:05.000000000 UTC");
  EXPECT_EQ(Shown(p, "mmse.from"), "<insert address>");
  EXPECT_EQ(Shown(p, "mmse.to"), "+8613800000001/TYPE=PLMN");
  for (const char* absent :
       {"mmse.cc", "mmse.subject", "mmse.message_class.id", "mmse.expiry.rel",
        "mmse.delivery_time.rel", "mmse.priority", "mmse.sender_visibility",
        "mmse.delivery_report", "mmse.read_report"}) {
    EXPECT_EQ(p.count(absent), 0u) << absent;
  }
  EXPECT_EQ(Shown(p, "wsp.header.content_type"),
            std::string(kRelated) + "|application/smil");
  EXPECT_EQ(Shown(p, "wsp.parameter.upart.type"), "application/smil");
  EXPECT_EQ(Shown(p, "wsp.parameter.start"), "<CMSMMS>");
  EXPECT_EQ(Shown(p, "wsp.multipart"), "1");
  EXPECT_EQ(Shown(p, "wsp.header.content_id"), "\"<CMSMMS>\"");
  EXPECT_EQ(Shown(p, "wsp.header.content_location"), "cmms.smil");

  const Packet& f = packets[1];
  EXPECT_EQ(Shown(f, "mmse.cc"),
            "+8613900000002/TYPE=PLMN|+8613700000003/TYPE=PLMN");
  // tshark shows the subject's bytes without decoding them; the bytes are
  // checked instead: code, Value-length 14, UTF-8, the text, 0.
  EXPECT_EQ(Covered(f, "mmse.subject"),
            "960eea" "e4b8ad" "e69687" "e4b8bb" "e9a298" "00");
  EXPECT_EQ(Shown(f, "mmse.message_class.id"), "0x82");
  EXPECT_EQ(Shown(f, "mmse.expiry.rel"), "86400.000000000");
  EXPECT_EQ(Shown(f, "mmse.delivery_time.rel"), "86400.000000000");
  EXPECT_EQ(Shown(f, "mmse.priority"), "0x82");
  EXPECT_EQ(Shown(f, "mmse.sender_visibility"), "0x80");
  EXPECT_EQ(Shown(f, "mmse.delivery_report"), "0x80");
  EXPECT_EQ(Shown(f, "mmse.read_report"), "0x80");
  EXPECT_EQ(Shown(f, "wsp.multipart"), "1|2|3|4|5|6|7|8|9|10");
  EXPECT_EQ(Shown(f, "wsp.header.content_type"),
            std::string(kRelated) +
                "|application/smil|image/jpeg|image/gif|image/png|image/*"
                "|audio/midi|audio/midi|text/plain|application/octet-stream"
                "|application/smil");
  EXPECT_EQ(Shown(f, "wsp.parameter.name"),
            "cmms.smil|a.jpg|b.gif|c.png|d.bmp|e.amr|f.mp3|g.txt|h.3gp"
            "|cmms.smil");
  EXPECT_EQ(Shown(f, "wsp.header.content_location"),
            "cmms.smil|a.jpg|b.gif|c.png|d.bmp|e.amr|f.mp3|g.txt|h.3gp"
            "|cmms.smil");
  EXPECT_EQ(Shown(f, "wsp.header.content_id"),
            "\"<CMSMMS>\"|\"<a.jpg>\"|\"<b.gif>\"|\"<c.png>\"|\"<d.bmp>\""
            "|\"<e.amr>\"|\"<f.mp3>\"|\"<g.txt>\"|\"<h.3gp>\"|\"<CMSMMS>\"");
  EXPECT_EQ(Shown(f, "wsp.parameter.charset"), "UTF-8");
  // Each entry ends with its file's bytes.
  size_t entry = 0;
  auto range = f.equal_range("wsp.multipart");
  for (auto it = range.first; it != range.second; ++it, ++entry) {
    if (entry == 0) {
      continue;  // the generated SMIL
    }
    const std::string data =
        HexOf(Text(std::string("data of ") + names[entry - 1], false));
    const std::string& covered = it->second.value;
    ASSERT_GE(covered.size(), data.size());
    EXPECT_EQ(covered.substr(covered.size() - data.size()), data)
        << names[entry - 1];
  }
}

// Fallback option values, the Length-quote forms, multi-byte HeadersLen
// and entry count: the forms the decisions chose must read as standard.
TEST_F(Tshark, ReadsLongFormsAndFallbacks) {
  MMS_Option option = {};
  option.nMessageClass = 4;
  option.nExpiry = 1;
  option.nDeliveryTime = 7;
  option.nPriority = 3;
  auto fallback = NewMessage(option, L"");
  const std::string subject(40, 'S');
  ASSERT_EQ(fallback->SetSubject(WBuf(std::wstring(40, L'S'))), 1);
  const std::string long_name = std::string(60, 'n') + ".dat";
  AddFile(fallback.get(),
          PutFile(std::wstring(long_name.begin(), long_name.end()), "xyz"));

  auto many = NewMessage();
  const std::wstring path = PutFile(L"t.txt", "t");
  for (int i = 0; i < 130; ++i) {
    AddFile(many.get(), path);
  }

  const Bytes fallback_pdu = Pdu(fallback.get());
  const std::vector<Packet> packets =
      Dissect({fallback_pdu, Pdu(many.get())});
  ASSERT_EQ(packets.size(), 2u);

  const Packet& f = packets[0];
  EXPECT_EQ(Shown(f, "mmse.transaction_id"), kFixedSeconds);
  EXPECT_EQ(f.count("mmse.to"), 0u);
  EXPECT_EQ(Shown(f, "mmse.subject"), subject);
  EXPECT_EQ(Shown(f, "mmse.message_class.id"), "0x80");
  EXPECT_EQ(Shown(f, "mmse.expiry.rel"), "3600.000000000");
  EXPECT_EQ(Shown(f, "mmse.delivery_time.rel"), "0.000000000");
  EXPECT_EQ(Shown(f, "mmse.priority"), "0x81");
  EXPECT_EQ(Shown(f, "wsp.multipart"), "1|2");
  EXPECT_EQ(Shown(f, "wsp.header.content_type"),
            std::string(kRelated) + "|application/smil|"
                                    "application/octet-stream");
  EXPECT_EQ(Shown(f, "wsp.header.content_location"),
            "cmms.smil|" + long_name);

  const Packet& m = packets[1];
  auto range = m.equal_range("wsp.multipart");
  EXPECT_EQ(static_cast<size_t>(std::distance(range.first, range.second)),
            131u);
  EXPECT_EQ(std::prev(range.second)->second.show, "131");
}

}  // namespace
}  // namespace mms::testing
