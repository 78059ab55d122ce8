// Behaviour of the HTTP client calls through a real proxy (tinyproxy) in
// front of a loopback server, including faults and cancellation.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "platform/thread.h"
#include "support/loopback.h"
#include "support/loopback_http.h"
#include "support/test_support.h"
#include "transport/wininet.h"

namespace {

using mms::testing::TinyProxy;

// What the server saw of the last request.
struct Seen {
  std::mutex mu;
  std::string method, path, version, user_agent, content_type, body;
};

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!proxy_.running()) {
      GTEST_SKIP() << "tinyproxy is not installed";
    }
    auto record = [this](const httplib::Request& req) {
      std::lock_guard<std::mutex> lock(seen_.mu);
      seen_.method = req.method;
      seen_.path = req.target;
      seen_.version = req.version;
      seen_.user_agent = req.get_header_value("User-Agent");
      seen_.content_type = req.get_header_value("Content-Type");
      seen_.body = req.body;
    };
    server_.routes().Get(
        R"(.*)", [record](const httplib::Request& req, httplib::Response& res) {
          record(req);
          res.set_content("message bytes", "application/vnd.wap.mms-message");
        });
    server_.routes().Post(R"(.*)", [record](const httplib::Request& req,
                                            httplib::Response& res) {
      record(req);
      res.set_content(std::string("\x8c\x81", 2), "application/octet-stream");
    });
    Listen();
  }

  void Listen() {
    ASSERT_TRUE(server_.Start());
    port_ = server_.port();
  }

  void TearDown() override {
    server_.Stop();
    mms::platform::SetTimeScaleForTest(1.0);
  }

  std::wstring Server() const { return L"127.0.0.1:" + std::to_wstring(port_); }
  std::wstring Proxy() const {
    const std::string a = proxy_.address();
    return std::wstring(a.begin(), a.end());
  }

  // Opens session, connection and request; the caller closes them.
  struct Handles {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    ~Handles() {
      for (HINTERNET h : {request, connection, session}) {
        if (h != nullptr) {
          InternetCloseHandle(h);
        }
      }
    }
  };
  void Open(Handles* h, const wchar_t* verb, const wchar_t* path,
            const wchar_t* version) {
    h->session = InternetOpenW(L"Corvix.exe", INTERNET_OPEN_TYPE_PROXY,
                               Proxy().c_str(), nullptr, 0);
    ASSERT_NE(h->session, nullptr);
    h->connection = InternetConnectW(h->session, Server().c_str(), 0, nullptr,
                                     nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(h->connection, nullptr);
    h->request = HttpOpenRequestW(h->connection, verb, path, version, nullptr,
                                  nullptr, 0, 0);
    ASSERT_NE(h->request, nullptr);
  }

  TinyProxy proxy_;
  int port_ = 0;
  mms::testing::LoopbackHttpServer server_;
  Seen seen_;
};

// A stop that comes before the listen loop runs must not be lost.
TEST(LoopbackHttpServer, StartedAndStoppedAtOnceNeverHangs) {
  for (int round = 0; round < 1000; ++round) {
    mms::testing::LoopbackHttpServer server;
    ASSERT_TRUE(server.Start()) << round;
    server.Stop();
  }
}

TEST_F(HttpClientTest, GetThroughProxyKeepsPathVersionAndAgent) {
  Handles h;
  Open(&h, L"GET", L"//abc", L"HTTP/1.1");
  ASSERT_TRUE(HttpSendRequestW(h.request, nullptr, 0, nullptr, 0));

  DWORD length = 0, size = sizeof length;
  ASSERT_TRUE(HttpQueryInfoW(h.request,
                             HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                             &length, &size, nullptr));
  EXPECT_EQ(length, 13u);
  char body[64] = {};
  DWORD read = 0;
  ASSERT_TRUE(InternetReadFile(h.request, body, length, &read));
  EXPECT_EQ(read, 13u);
  EXPECT_STREQ(body, "message bytes");
  ASSERT_TRUE(InternetReadFile(h.request, body, sizeof body, &read));
  EXPECT_EQ(read, 0u);  // end of body

  std::lock_guard<std::mutex> lock(seen_.mu);
  EXPECT_EQ(seen_.method, "GET");
  EXPECT_EQ(seen_.path, "//abc");
  EXPECT_EQ(seen_.version, "HTTP/1.1");
  EXPECT_EQ(seen_.user_agent, "Corvix.exe");
}

TEST_F(HttpClientTest, PostSendsHeaderAndBodyBytesAsHttp10) {
  Handles h;
  Open(&h, L"POST", L"//", L"HTTP/1.0");
  const std::string pdu("\x8c\x80\x98T1\0\x8d\x90", 9);
  const wchar_t header[] = L"Content-Type: application/vnd.wap.mms-message";
  ASSERT_TRUE(HttpSendRequestW(h.request, header, wcslen(header), pdu.data(),
                               static_cast<DWORD>(pdu.size())));
  unsigned char reply[1024] = {};
  DWORD read = 0;
  ASSERT_TRUE(InternetReadFile(h.request, reply, sizeof reply, &read));
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(reply[0], 0x8c);

  std::lock_guard<std::mutex> lock(seen_.mu);
  EXPECT_EQ(seen_.method, "POST");
  EXPECT_EQ(seen_.path, "//");
  EXPECT_EQ(seen_.version, "HTTP/1.0");
  EXPECT_EQ(seen_.content_type, "application/vnd.wap.mms-message");
  EXPECT_EQ(seen_.body, pdu);
}

TEST_F(HttpClientTest, ProxyDownFailsTheSend) {
  proxy_.Stop();
  Handles h;
  Open(&h, L"GET", L"//abc", L"HTTP/1.1");
  EXPECT_FALSE(HttpSendRequestW(h.request, nullptr, 0, nullptr, 0));
}

TEST(HttpClientHandles, StaleAndWrongHandlesFailCleanly) {
  HINTERNET session = InternetOpenW(L"Corvix.exe", INTERNET_OPEN_TYPE_PROXY,
                                    L"127.0.0.1:9", nullptr, 0);
  ASSERT_NE(session, nullptr);
  // A session is not a request.
  EXPECT_FALSE(HttpSendRequestW(session, nullptr, 0, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(InternetConnectW(session, L"host:0", 0, nullptr, nullptr,
                             INTERNET_SERVICE_HTTP, 0, 0),
            nullptr);
  EXPECT_TRUE(InternetCloseHandle(session));
  EXPECT_FALSE(InternetCloseHandle(session));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// A raw server whose behaviour each fault test chooses.
class FaultServerTest : public HttpClientTest {
 protected:
  void SetUp() override {
    if (!proxy_.running()) {
      GTEST_SKIP() << "tinyproxy is not installed";
    }
    server_.routes().Get(
        "/short", [](const httplib::Request&, httplib::Response& res) {
          // Announces 1000 bytes, sends 10, then closes.
          res.set_content_provider(
              1000, "application/vnd.wap.mms-message",
              [](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset == 0) {
                  sink.write("0123456789", 10);
                  return true;
                }
                return false;
              });
        });
    server_.routes().Get(
        "/huge", [](const httplib::Request&, httplib::Response& res) {
          res.set_header("Content-Length", "4000000000");
          res.set_content_provider(4000000000ull, "application/octet-stream",
                                   [](size_t, size_t, httplib::DataSink& sink) {
                                     static const char kChunk[4096] = {};
                                     return sink.write(kChunk, sizeof kChunk);
                                   });
        });
    server_.routes().Get(
        "/chunked", [](const httplib::Request&, httplib::Response& res) {
          res.set_chunked_content_provider(
              "text/plain", [](size_t offset, httplib::DataSink& sink) {
                if (offset == 0) {
                  sink.write("abc", 3);
                } else {
                  sink.done();
                }
                return true;
              });
        });
    server_.routes().Get(
        "/slow", [this](const httplib::Request&, httplib::Response& res) {
          // Headers at once, then no byte until the test ends.
          res.set_content_provider(
              100, "application/octet-stream",
              [this](size_t, size_t, httplib::DataSink&) {
                while (!release_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                return false;
              });
        });
    Listen();
  }
  void TearDown() override {
    release_ = true;
    HttpClientTest::TearDown();
  }
  std::atomic<bool> release_{false};
};

TEST_F(FaultServerTest, BodyShorterThanContentLengthFailsTheRead) {
  Handles h;
  Open(&h, L"GET", L"/short", L"HTTP/1.1");
  ASSERT_TRUE(HttpSendRequestW(h.request, nullptr, 0, nullptr, 0));
  DWORD length = 0, size = sizeof length;
  ASSERT_TRUE(HttpQueryInfoW(h.request,
                             HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                             &length, &size, nullptr));
  EXPECT_EQ(length, 1000u);
  std::string buffer(length, '\0');
  DWORD read = 0;
  EXPECT_FALSE(InternetReadFile(h.request, buffer.data(), length, &read));
}

TEST_F(FaultServerTest, HugeBodyIsAnnouncedButNeverKept) {
  Handles h;
  Open(&h, L"GET", L"/huge", L"HTTP/1.1");
  ASSERT_TRUE(HttpSendRequestW(h.request, nullptr, 0, nullptr, 0));
  DWORD length = 0, size = sizeof length;
  ASSERT_TRUE(HttpQueryInfoW(h.request,
                             HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                             &length, &size, nullptr));
  EXPECT_EQ(length, 4000000000u);
  char byte = 0;
  DWORD read = 0;
  EXPECT_FALSE(InternetReadFile(h.request, &byte, 1, &read));
}

TEST_F(FaultServerTest, ResponseWithoutContentLengthHasNone) {
  Handles h;
  Open(&h, L"GET", L"/chunked", L"HTTP/1.1");
  ASSERT_TRUE(HttpSendRequestW(h.request, nullptr, 0, nullptr, 0));
  DWORD length = 0, size = sizeof length;
  EXPECT_FALSE(HttpQueryInfoW(
      h.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
      &size, nullptr));
}

TEST_F(FaultServerTest, StalledTransferTimesOut) {
  mms::platform::SetTimeScaleForTest(0.02);  // 60 s stall limit -> ~1 s
  Handles h;
  Open(&h, L"GET", L"/slow", L"HTTP/1.1");
  ASSERT_TRUE(HttpSendRequestW(h.request, nullptr, 0, nullptr, 0));
  char buffer[100];
  DWORD read = 0;
  EXPECT_FALSE(InternetReadFile(h.request, buffer, sizeof buffer, &read));
}

// Closed by another thread while its transfer runs: the close wins once,
// every later call on the handle fails, and the running send finishes on
// the object it holds (ASan sees any use after free or double free).
TEST_F(FaultServerTest, RequestClosedWhileItRunsIsFreedOnce) {
  Handles h;
  Open(&h, L"GET", L"/slow", L"HTTP/1.1");
  std::atomic<bool> running{false};
  mms::transport::SetTransferProgressHook(
      [&running](size_t, size_t, size_t, size_t) { running = true; });
  std::thread send(
      [&h] { HttpSendRequestW(h.request, nullptr, 0, nullptr, 0); });
  while (!running) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(InternetCloseHandle(h.request));
  EXPECT_FALSE(InternetCloseHandle(h.request));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  DWORD read = 0;
  char byte = 0;
  EXPECT_FALSE(InternetReadFile(h.request, &byte, 1, &read));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  release_ = true;
  send.join();
  mms::transport::SetTransferProgressHook(nullptr);
  h.request = nullptr;
}

DWORD WINAPI_Fetch(void* param) {
  auto* url_port = static_cast<std::pair<std::wstring, std::wstring>*>(param);
  HINTERNET session = InternetOpenW(L"Corvix.exe", INTERNET_OPEN_TYPE_PROXY,
                                    url_port->first.c_str(), nullptr, 0);
  HINTERNET connection =
      InternetConnectW(session, url_port->second.c_str(), 0, nullptr, nullptr,
                       INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestW(connection, L"GET", L"/slow",
                                       L"HTTP/1.1", nullptr, nullptr, 0, 0);
  struct Closer {
    HINTERNET h[3];
    ~Closer() {
      for (HINTERNET x : h) {
        InternetCloseHandle(x);
      }
    }
  } closer{{request, connection, session}};
  HttpSendRequestW(request, nullptr, 0, nullptr, 0);
  return 7;  // never reached when the thread is ended mid-transfer
}

TEST_F(FaultServerTest, TerminateThreadStopsATransferPromptly) {
  std::pair<std::wstring, std::wstring> args(Proxy(), Server());
  HANDLE thread = CreateThread(nullptr, 0, WINAPI_Fetch, &args, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(TerminateThread(thread, 3));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(5));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 3u);
  CloseHandle(thread);
}

}  // namespace
