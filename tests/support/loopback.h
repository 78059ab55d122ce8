// loopback.h: loopback network fixtures for tests: free ports and a real
// HTTP proxy (tinyproxy) standing in for the operator's WAP proxy.
#ifndef MMS_TESTS_SUPPORT_LOOPBACK_H_
#define MMS_TESTS_SUPPORT_LOOPBACK_H_

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>

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
  // Stops the proxy (a test of "proxy down"); address() then names a port
  // that refuses every connection until the object goes.
  void Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int dead_fd_ = -1;
  std::string dir_;
};

// A TCP forwarder on 127.0.0.1 to a loopback port that resets the first
// `refusals` connections at once (a proxy refusing them), then relays.
class RefusingForwarder {
 public:
  RefusingForwarder(int target_port, int refusals);
  ~RefusingForwarder();
  RefusingForwarder(const RefusingForwarder&) = delete;
  RefusingForwarder& operator=(const RefusingForwarder&) = delete;

  std::string address() const;
  int accepted() const { return accepted_; }

 private:
  void Run();

  int listener_ = -1;
  int port_ = 0;
  int target_port_;
  int refusals_;
  std::atomic<int> accepted_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace mms::testing

#endif  // MMS_TESTS_SUPPORT_LOOPBACK_H_
