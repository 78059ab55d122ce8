// loopback.h: loopback network fixtures for tests: free ports and a real
// HTTP proxy (tinyproxy) standing in for the operator's WAP proxy.
#ifndef MMS_TESTS_SUPPORT_LOOPBACK_H_
#define MMS_TESTS_SUPPORT_LOOPBACK_H_

#include <sys/types.h>

#include <string>

namespace mms::testing {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeTcpPort();

// tinyproxy on 127.0.0.1 at a free port, for the lifetime of the object.
class TinyProxy {
 public:
  TinyProxy();
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  // "127.0.0.1:<port>"
  std::string address() const;
  // Stops the proxy (a test of "proxy down").
  void Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
};

}  // namespace mms::testing

#endif  // MMS_TESTS_SUPPORT_LOOPBACK_H_
