// loopback_http.cc: start and stop of the tests' loopback HTTP server, and
// the recording server built on it.
#include "support/loopback_http.h"

#include <chrono>

#include "support/http_recorder.h"

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

HttpRecorder::HttpRecorder() {
  auto serve = [this](const httplib::Request& req, httplib::Response& res) {
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back({req.method, req.target, req.version,
                           req.get_header_value("User-Agent"),
                           req.get_header_value("Content-Type"), req.body,
                           req.get_header_value("x-wap-profile")});
      handler = handler_;
    }
    if (handler) {
      handler(req, res);
    }
  };
  server_.routes().Get(".*", serve);
  server_.routes().Post(".*", serve);
  server_.Start();
}

HttpRecorder::~HttpRecorder() { server_.Stop(); }

void HttpRecorder::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  handler_ = std::move(handler);
}

std::vector<RecordedRequest> HttpRecorder::requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

}  // namespace mms::testing
