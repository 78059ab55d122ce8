// Behaviour of the HTTP client calls through a real proxy (tinyproxy) in
// front of a loopback server, including faults and cancellation.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/thread.h"
#include "support/loopback.h"
#include "support/loopback_http.h"
#include "support/test_support.h"
#include "transport/wininet.h"

namespace {

using mms::testing::TinyProxy;

TEST(HttpClientHandles, WrongHandlesFailCleanly) {
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
}

// Session, connection and a GET of /slow through the proxy, closed on
// the way out.
struct Handles {
  Handles(const std::wstring& proxy, const std::wstring& server) {
    session = InternetOpenW(L"Corvix.exe", INTERNET_OPEN_TYPE_PROXY,
                            proxy.c_str(), nullptr, 0);
    connection = InternetConnectW(session, server.c_str(), 0, nullptr, nullptr,
                                  INTERNET_SERVICE_HTTP, 0, 0);
    request = HttpOpenRequestW(connection, L"GET", L"/slow", L"HTTP/1.1",
                               nullptr, nullptr, 0, 0);
    EXPECT_NE(request, nullptr);
  }
  ~Handles() {
    for (HINTERNET h : {request, connection, session}) {
      InternetCloseHandle(h);  // a null one is refused harmlessly
    }
  }
  HINTERNET session, connection, request;
};

// A loopback server behind tinyproxy whose answer to /slow stalls after
// its headers until the test ends.
class FaultServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!proxy_.running()) {
      GTEST_SKIP() << "tinyproxy is not installed";
    }
    server_.routes().Get(
        "/slow", [this](const httplib::Request&, httplib::Response& res) {
          res.set_content_provider(
              100, "application/octet-stream",
              [this](size_t, size_t, httplib::DataSink&) {
                while (!release_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                return false;
              });
        });
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override {
    release_ = true;
    server_.Stop();
    mms::platform::SetTimeScaleForTest(1.0);
  }
  std::wstring Server() const {
    return L"127.0.0.1:" + std::to_wstring(server_.port());
  }
  std::wstring Proxy() const {
    const std::string a = proxy_.address();
    return std::wstring(a.begin(), a.end());
  }

  TinyProxy proxy_;
  mms::testing::LoopbackHttpServer server_;
  std::atomic<bool> release_{false};
};

TEST_F(FaultServerTest, StalledTransferTimesOut) {
  mms::platform::SetTimeScaleForTest(0.02);  // 60 s stall limit -> ~1 s
  Handles h(Proxy(), Server());
  ASSERT_TRUE(HttpSendRequestW(h.request, nullptr, 0, nullptr, 0));
  char buffer[100];
  DWORD read = 0;
  EXPECT_FALSE(InternetReadFile(h.request, buffer, sizeof buffer, &read));
}

// Closed by another thread while its transfer runs: the close wins once,
// every later call on the handle fails, and the running send finishes on
// the object it holds (ASan sees any use after free or double free).
TEST_F(FaultServerTest, RequestClosedWhileItRunsIsFreedOnce) {
  Handles h(Proxy(), Server());
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

}  // namespace
