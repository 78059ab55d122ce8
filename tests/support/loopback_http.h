// loopback_http.h: the one way tests run an HTTP server on 127.0.0.1.
// Start() returns only once the server accepts, so a Stop() that follows at
// once is never lost: cpp-httplib ignores a stop that comes before its
// listen loop runs, which left tests joining a thread blocked in accept().
#ifndef MMS_TESTS_SUPPORT_LOOPBACK_HTTP_H_
#define MMS_TESTS_SUPPORT_LOOPBACK_HTTP_H_

#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>

namespace mms::testing {

class LoopbackHttpServer {
 public:
  LoopbackHttpServer() = default;
  ~LoopbackHttpServer() { Stop(); }
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // Routes are registered here before Start().
  httplib::Server& routes() { return server_; }

  // Binds a free loopback port and waits until the listen loop runs.
  // False when no port could be bound or the loop ended at once.
  bool Start();
  // Idempotent; returns once the server thread has ended.
  void Stop();

  int port() const { return port_; }
  // "127.0.0.1:<port>"
  std::string host() const;

 private:
  httplib::Server server_;
  std::thread thread_;
  std::atomic<bool> loop_ended_{false};
  int port_ = 0;
};

}  // namespace mms::testing

#endif  // MMS_TESTS_SUPPORT_LOOPBACK_HTTP_H_
