// tshark.cc: pcap writing and PDML reading for the tshark checks.
//
// Frames carry true lengths and sequence numbers; checksums stay 0, which
// tshark does not check unless asked.
#include "support/tshark.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace mms::testing {

namespace {

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

Bytes PcapHeader() {
  Bytes file;
  for (uint32_t v : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 65535u, 1u}) {
    PutLe(&file, v, 4);  // magic, version 2.4, zone, accuracy, snap, Ethernet
  }
  return file;
}

// Ethernet and IPv4 from 127.0.0.1 to 127.0.0.1 around a transport
// header and payload.
Bytes Frame(uint8_t protocol, uint16_t id, const Bytes& transport) {
  Bytes frame(12, 0);  // MAC addresses
  PutBe(&frame, 0x0800, 2);
  PutBe(&frame, 0x4500, 2);
  PutBe(&frame, static_cast<uint32_t>(20 + transport.size()), 2);
  PutBe(&frame, id, 2);
  PutBe(&frame, 0x40004000u | protocol, 4);  // DF, TTL 64, protocol
  PutBe(&frame, 0, 2);
  PutBe(&frame, 0x7F000001, 4);
  PutBe(&frame, 0x7F000001, 4);
  frame.insert(frame.end(), transport.begin(), transport.end());
  return frame;
}

void AppendRecord(Bytes* file, uint32_t number, const Bytes& frame) {
  PutLe(file, 1237278605, 4);
  PutLe(file, number, 4);
  PutLe(file, static_cast<uint32_t>(frame.size()), 4);
  PutLe(file, static_cast<uint32_t>(frame.size()), 4);
  file->insert(file->end(), frame.begin(), frame.end());
}

std::string Attribute(const std::string& line, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t start = line.find(key);
  if (start == std::string::npos) {
    return "";
  }
  const size_t from = start + key.size();
  std::string text = line.substr(from, line.find('"', from) - from);
  // "&amp;" last, so that "&amp;lt;" gives "&lt;".
  static const std::pair<std::string, char> kEntities[] = {
      {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
  for (const auto& [entity, c] : kEntities) {
    for (size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + 1)) {
      text.replace(at, entity.size(), 1, c);
    }
  }
  return text;
}

}  // namespace

bool TsharkAvailable() {
  return std::system("tshark --version > /dev/null 2>&1") == 0;
}

std::string Shown(const TsharkPacket& packet, const std::string& name) {
  std::string joined;
  auto range = packet.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) {
    joined += (joined.empty() ? "" : "|") + it->second.show;
  }
  return joined;
}

Bytes PcapOfHttpPosts(const std::vector<Bytes>& bodies) {
  Bytes file = PcapHeader();
  uint32_t number = 0;
  uint16_t port = 40000;
  for (const Bytes& body : bodies) {
    const std::string head =
        "POST /mms HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Content-Type: application/vnd.wap.mms-message\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\n\r\n";
    Bytes request(head.begin(), head.end());
    request.insert(request.end(), body.begin(), body.end());
    uint32_t seq = 1000;
    for (size_t pos = 0; pos < request.size(); pos += 1400) {
      const size_t n = std::min<size_t>(1400, request.size() - pos);
      Bytes tcp;
      PutBe(&tcp, port, 2);
      PutBe(&tcp, 80, 2);
      PutBe(&tcp, seq, 4);
      PutBe(&tcp, 5000, 4);    // ack
      PutBe(&tcp, 0x5018, 2);  // 20-byte header, ACK PSH
      PutBe(&tcp, 65535, 2);   // window
      PutBe(&tcp, 0, 4);       // checksum, urgent
      tcp.insert(tcp.end(), request.begin() + pos, request.begin() + pos + n);
      seq += static_cast<uint32_t>(n);
      ++number;
      AppendRecord(&file, number, Frame(6, static_cast<uint16_t>(number), tcp));
    }
    ++port;
  }
  return file;
}

Bytes PcapOfUdpDatagrams(const std::vector<Bytes>& datagrams, uint16_t port) {
  Bytes file = PcapHeader();
  uint32_t number = 0;
  for (const Bytes& datagram : datagrams) {
    Bytes udp;
    PutBe(&udp, 40000, 2);
    PutBe(&udp, port, 2);
    PutBe(&udp, static_cast<uint32_t>(8 + datagram.size()), 2);
    PutBe(&udp, 0, 2);
    udp.insert(udp.end(), datagram.begin(), datagram.end());
    ++number;
    AppendRecord(&file, number, Frame(17, static_cast<uint16_t>(number), udp));
  }
  return file;
}

std::vector<TsharkPacket> Dissect(const Bytes& pcap, const std::string& path,
                                  const std::string& extra_args, bool strict) {
  WriteHostFile(path, pcap);
  const std::string command =
      "tshark -n -r '" + path + "' " + extra_args + " -T pdml 2>/dev/null";
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

  std::vector<TsharkPacket> packets;
  std::istringstream lines(pdml);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("<packet>") != std::string::npos) {
      packets.emplace_back();
    } else if (!packets.empty() &&
               (line.find("<field ") != std::string::npos ||
                line.find("<proto ") != std::string::npos)) {
      const std::string name = Attribute(line, "name");
      const std::string shown = Attribute(line, "showname");
      EXPECT_FALSE(strict && (name == "_ws.malformed" ||
                              shown.rfind("Expert Info (Error", 0) == 0 ||
                              shown.rfind("Expert Info (Warning", 0) == 0))
          << "packet " << packets.size() << ": " << shown;
      packets.back().emplace(
          name,
          TsharkField{
              Attribute(line, "show"), Attribute(line, "value"),
              std::strtoul(Attribute(line, "pos").c_str(), nullptr, 10),
              std::strtoul(Attribute(line, "size").c_str(), nullptr, 10)});
    }
  }
  return packets;
}

}  // namespace mms::testing
