// http_recorder.cc: the scripted, recording loopback HTTP server.
#include "support/http_recorder.h"

namespace mms::testing {

HttpRecorder::HttpRecorder() {
  auto serve = [this](const httplib::Request& req, httplib::Response& res) {
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back({req.method, req.target, req.version,
                           req.get_header_value("User-Agent"),
                           req.get_header_value("Content-Type"), req.body});
      handler = handler_;
    }
    if (handler) {
      handler(req, res);
    }
  };
  server_.Get(".*", serve);
  server_.Post(".*", serve);
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
}

HttpRecorder::~HttpRecorder() {
  server_.stop();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void HttpRecorder::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  handler_ = std::move(handler);
}

std::string HttpRecorder::host() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::vector<RecordedRequest> HttpRecorder::requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

}  // namespace mms::testing
