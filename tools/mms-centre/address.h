// address.h: the loopback addresses the centre may use. It binds and pushes
// to the local machine only; anything else is refused before a socket is
// made.
#ifndef MMS_TOOLS_MMS_CENTRE_ADDRESS_H_
#define MMS_TOOLS_MMS_CENTRE_ADDRESS_H_

#include <string>

namespace centre {

// "localhost" -> "127.0.0.1"; "[::1]" -> "::1". False (with *why) for any
// host that is not a loopback address.
bool NormaliseLoopbackHost(const std::string& host, std::string* out,
                           std::string* why);

// Port number 0..65535 from text; false for anything else.
bool ParsePort(const std::string& text, int* port);

// "host:port" (IPv6 in brackets) into a loopback host and a port 1..65535.
bool ParseLoopbackTarget(const std::string& text, std::string* host, int* port,
                         std::string* why);

// "host:port" for a URL: "[::1]:8899" for IPv6.
std::string HostPort(const std::string& host, int port);

}  // namespace centre

#endif  // MMS_TOOLS_MMS_CENTRE_ADDRESS_H_
