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
