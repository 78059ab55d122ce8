// operator.h: where the operator's network is: the WAP proxy every HTTP
// exchange goes through and the MMS centre that submissions go to.
//
// Built-in defaults are loopback addresses on unprivileged ports, so a
// fresh machine talks to the loopback centre of the tools; MMS_WAP_PROXY
// and MMS_MMSC_HOST ("host" or "host:port") point the library elsewhere.
#ifndef MMS_TRANSPORT_OPERATOR_H_
#define MMS_TRANSPORT_OPERATOR_H_

#include <string>

namespace mms::transport {

constexpr char kDefaultWapProxy[] = "127.0.0.1:8888";
constexpr char kDefaultMmscHost[] = "127.0.0.1:8899";

// "host:port" of the WAP proxy in use.
std::wstring WapProxy();
// "host" or "host:port" of the MMS centre in use.
std::wstring MmscHost();

}  // namespace mms::transport

#endif  // MMS_TRANSPORT_OPERATOR_H_
