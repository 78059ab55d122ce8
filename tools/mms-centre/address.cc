// address.cc: loopback checks on numeric addresses, never on name lookups.
#include "tools/mms-centre/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdlib>

namespace centre {

bool NormaliseLoopbackHost(const std::string& host, std::string* out,
                           std::string* why) {
  std::string bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  if (bare == "localhost") {
    bare = "127.0.0.1";
  }
  in_addr v4 = {};
  in6_addr v6 = {};
  if (inet_pton(AF_INET, bare.c_str(), &v4) == 1) {
    if ((ntohl(v4.s_addr) >> 24) == 127) {
      *out = bare;
      return true;
    }
  } else if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1) {
    if (IN6_IS_ADDR_LOOPBACK(&v6)) {
      *out = "::1";
      return true;
    }
  }
  *why = "'" + host + "' is not a loopback address (127.0.0.1 or ::1)";
  return false;
}

bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long n = std::strtol(text.c_str(), nullptr, 10);
  if (n > 65535) {
    return false;
  }
  *port = static_cast<int>(n);
  return true;
}

bool ParseLoopbackTarget(const std::string& text, std::string* host, int* port,
                         std::string* why) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    *why = "'" + text + "' is not host:port";
    return false;
  }
  if (!ParsePort(text.substr(colon + 1), port) || *port == 0) {
    *why = "'" + text.substr(colon + 1) + "' is not a port number (1-65535)";
    return false;
  }
  return NormaliseLoopbackHost(text.substr(0, colon), host, why);
}

std::string HostPort(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace centre
