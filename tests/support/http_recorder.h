// http_recorder.h: a loopback HTTP server for tests that records every
// request it gets and answers with whatever the test scripts.
#ifndef MMS_TESTS_SUPPORT_HTTP_RECORDER_H_
#define MMS_TESTS_SUPPORT_HTTP_RECORDER_H_

#include <httplib.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/loopback_http.h"

namespace mms::testing {

struct RecordedRequest {
  std::string method;
  std::string target;   // as sent: "//", "/mms?id=1"
  std::string version;  // "HTTP/1.0"
  std::string user_agent;
  std::string content_type;
  std::string body;
  std::string profile;  // x-wap-profile
};

class HttpRecorder {
 public:
  // Answers every request; the default answers 200 with an empty body.
  using Handler =
      std::function<void(const httplib::Request&, httplib::Response&)>;

  HttpRecorder();
  ~HttpRecorder();
  HttpRecorder(const HttpRecorder&) = delete;
  HttpRecorder& operator=(const HttpRecorder&) = delete;

  void SetHandler(Handler handler);
  int port() const { return server_.port(); }
  // "127.0.0.1:<port>"
  std::string host() const { return server_.host(); }
  std::vector<RecordedRequest> requests();

 private:
  std::mutex mu_;
  Handler handler_;                        // guarded by mu_
  std::vector<RecordedRequest> requests_;  // guarded by mu_
  LoopbackHttpServer server_;  // last: stops before the state it uses goes
};

}  // namespace mms::testing

#endif  // MMS_TESTS_SUPPORT_HTTP_RECORDER_H_
