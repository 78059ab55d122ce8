// operator.h: where the operator's network is and what it asks of the
// device: the WAP proxy every HTTP exchange goes through (or none), the MMS
// centre submissions go to, and the User-Agent and profile sent with each
// request.
//
// Built-in defaults are loopback addresses on unprivileged ports, so a
// fresh machine talks to the loopback centre of the tools. The environment
// overrides each: MMS_WAP_PROXY ("host:port", or "none" to send directly),
// MMS_MMSC_HOST ("host", "host:port" or a whole "http://host[:port]/path"
// as operators publish it), MMS_USER_AGENT and MMS_UAPROF.
#ifndef MMS_TRANSPORT_OPERATOR_H_
#define MMS_TRANSPORT_OPERATOR_H_

#include <string>
#include <vector>

namespace mms::transport {

constexpr char kDefaultWapProxy[] = "127.0.0.1:8888";
constexpr char kDefaultMmscHost[] = "127.0.0.1:8899";
constexpr char kDefaultUserAgent[] = "Corvix.exe";
constexpr char kNoProxy[] = "none";

// "host:port" of the WAP proxy in use; empty when requests go directly.
std::wstring WapProxy();
// "host" or "host:port" of the MMS centre in use (from a URL, its
// authority).
std::wstring MmscHost();
// The object a submission is posted to: "//" for a bare host, else the
// path (and query) of the centre's URL. False with *why when
// MMS_MMSC_HOST is a URL that cannot be used.
bool MmscPath(std::wstring* path, std::string* why);
// User-Agent of every request.
std::wstring UserAgent();
// The extra request headers the operator asks for ("x-wap-profile: URL"),
// "" when none.
std::wstring ProfileHeader();

// One setting as it is in force, for the tools.
struct SettingInForce {
  const char* variable;   // "MMS_WAP_PROXY", ...
  std::string value;      // as used ("none" for a direct connection)
  bool from_environment;  // else built in
};
std::vector<SettingInForce> SettingsInForce();

}  // namespace mms::transport

#endif  // MMS_TRANSPORT_OPERATOR_H_
