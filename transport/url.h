// url.h: the one reader of the http:// URLs the transport requests: an
// announced message location, or the MMS centre's address.
//
// A URL is requested as written: its authority (host and the port it
// names) is the server, its path and query the object. Nothing is
// re-encoded; a URL the request line cannot carry is refused instead.
#ifndef MMS_TRANSPORT_URL_H_
#define MMS_TRANSPORT_URL_H_

#include <cstddef>
#include <string>

namespace mms::transport {

constexpr size_t kMaxUrlChars = 259;   // what the callers' buffers hold
constexpr size_t kMaxHostChars = 255;  // a DNS name's longest form

struct HttpUrl {
  std::wstring authority;  // "host" or "host:port" ("[v6]:port")
  std::wstring object;     // path and query, starting with "/"
};

// Splits an absolute "http://" URL (scheme in any case; a fragment is
// dropped). False with *why (one line) when it cannot be requested: not
// http, https, no "/" after the host, too long, or characters outside
// printable ASCII.
bool SplitHttpUrl(const std::wstring& url, HttpUrl* out, std::string* why);

}  // namespace mms::transport

#endif  // MMS_TRANSPORT_URL_H_
