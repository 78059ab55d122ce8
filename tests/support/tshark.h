// tshark.h: Wireshark's dissectors as an independent reader of the bytes
// the library and its tools write. Tests wrap PDUs into a small pcap of
// their own and read tshark's PDML back.
#ifndef MMS_TESTS_SUPPORT_TSHARK_H_
#define MMS_TESTS_SUPPORT_TSHARK_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace mms::testing {

// One field of a packet: the value as shown, the bytes it covers (hex) and
// where they lie in their packet's data.
struct TsharkField {
  std::string show;
  std::string value;
  size_t pos = 0;
  size_t size = 0;
};
using TsharkPacket = std::multimap<std::string, TsharkField>;

bool TsharkAvailable();

// Every shown value of a field, joined with "|" ("" when absent).
std::string Shown(const TsharkPacket& packet, const std::string& name);

// A pcap of one HTTP POST per body (application/vnd.wap.mms-message) on
// its own TCP connection to 127.0.0.1:80, in segments of 1400 bytes.
Bytes PcapOfHttpPosts(const std::vector<Bytes>& bodies);

// A pcap of one UDP datagram each from 127.0.0.1:40000 to 127.0.0.1:port.
Bytes PcapOfUdpDatagrams(const std::vector<Bytes>& datagrams, uint16_t port);

// Writes pcap to path, runs tshark over it with extra_args, removes the
// file and gives every packet. A malformed packet or an expert warning or
// error is a test failure unless strict is false (messages written by
// other systems are not always clean).
std::vector<TsharkPacket> Dissect(const Bytes& pcap, const std::string& path,
                                  const std::string& extra_args = "",
                                  bool strict = true);

}  // namespace mms::testing

#endif  // MMS_TESTS_SUPPORT_TSHARK_H_
