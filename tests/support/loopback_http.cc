// loopback_http.cc: start and stop of the tests' loopback HTTP server.
#include "support/loopback_http.h"

#include <chrono>

namespace mms::testing {

bool LoopbackHttpServer::Start() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    return false;
  }
  loop_ended_ = false;
  thread_ = std::thread([this] {
    server_.listen_after_bind();
    loop_ended_ = true;
  });
  // No deadline: under load the thread may take long to be scheduled, and
  // the loop either runs or ends, so this always finishes.
  while (!server_.is_running() && !loop_ended_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return !loop_ended_;
}

void LoopbackHttpServer::Stop() {
  if (!thread_.joinable()) {
    return;
  }
  // Start() saw the loop running (or ended), so this stop is never lost.
  server_.stop();
  thread_.join();
}

std::string LoopbackHttpServer::host() const {
  return "127.0.0.1:" + std::to_string(port_);
}

}  // namespace mms::testing
