// Retrieval and submission through a real proxy (tinyproxy) in front of a
// recording loopback MMS centre: request lines, headers, bodies, stored
// files, registry values, retries and faults.
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "store/registry_values.h"
#include "store/transfers.h"
#include "support/http_recorder.h"
#include "support/loopback.h"
#include "support/test_support.h"
#include "transport/connection.h"

namespace {

using mms::testing::Bytes;
using mms::testing::HttpRecorder;
using mms::testing::RegDword;
using mms::testing::RegString;
using mms::testing::TinyProxy;

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

class TransportTest : public mms::testing::DeviceTest {
 protected:
  void SetUp() override {
    if (!proxy_.running()) {
      GTEST_SKIP() << "tinyproxy is not installed";
    }
    setenv("MMS_WAP_PROXY", proxy_.address().c_str(), 1);
    setenv("MMS_MMSC_HOST", centre_.host().c_str(), 1);
  }
  void TearDown() override {
    if (pWebConnect != nullptr) {
      CloseMMSConnection(&pWebConnect);
    }
    unsetenv("MMS_WAP_PROXY");
    unsetenv("MMS_MMSC_HOST");
    DeviceTest::TearDown();
  }

  size_t StoredFiles() {
    using std::filesystem::directory_iterator;
    return static_cast<size_t>(
        std::distance(directory_iterator(Host(L"\\Windows\\Messaging")),
                      directory_iterator()));
  }

  int Retrieve(const std::wstring& url, std::wstring* stored = nullptr) {
    wchar_t buffer[260] = {};
    wcsncpy(buffer, url.c_str(), 259);
    const int result = RetrieveMMS(buffer, 260);
    if (stored != nullptr) {
      *stored = buffer;
    }
    return result;
  }

  int Submit(const std::string& pdu) {
    SendJob job{reinterpret_cast<unsigned char*>(const_cast<char*>(pdu.data())),
                static_cast<int32_t>(pdu.size())};
    return SubmitMMS(&job);
  }

  TinyProxy proxy_;
  HttpRecorder centre_;
};

constexpr char kRetrieveConf[] = "\x8c\x84\x98T9";  // and its 0

void ServePdu(httplib::Response& res) {
  res.set_content(std::string(kRetrieveConf, sizeof kRetrieveConf),
                  "application/vnd.wap.mms-message");
}

TEST_F(TransportTest, OperatorLocationsAreFetchedAtTheirAnnouncedPath) {
  centre_.SetHandler(
      [](const httplib::Request&, httplib::Response& res) { ServePdu(res); });
  const std::string host = "http://" + centre_.host();
  std::string long_query = "/store/" + std::string(60, 'm') + "/get?id=";
  long_query += std::string(200 - host.size() - long_query.size(), '7');
  const std::vector<std::string> paths = {
      "/mms/wapenc?location=A1b2C3&rid=027",
      "/servlets/mms?message-id=4f2a%40mmsc",
      "/m/0f8fad5b-d9cb-469f-a165-70867728950e",
      long_query,
  };
  for (const std::string& path : paths) {
    std::wstring stored;
    ASSERT_EQ(Retrieve(Wide(host + path), &stored), 0) << path;
    EXPECT_EQ(mms::testing::ReadHostFile(Host(stored)),
              Bytes({0x8c, 0x84, 0x98, 'T', '9', 0, 0, 0}));
  }
  EXPECT_EQ((host + long_query).size(), 200u);
  const auto requests = centre_.requests();
  ASSERT_EQ(requests.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].target, paths[i]);
    EXPECT_EQ(requests[i].version, "HTTP/1.1");
    EXPECT_EQ(requests[i].user_agent, "Corvix.exe");
    EXPECT_EQ(requests[i].profile, "");
  }
  EXPECT_EQ(RegDword(mms::store::kNewMms), 1u);
  EXPECT_EQ(StoredFiles(), paths.size());
}

TEST_F(TransportTest, UnusableUrlsFailBeforeAnyTraffic) {
  const std::wstring host = Wide(centre_.host());
  EXPECT_EQ(Retrieve(L"http://" + host), -1);         // no path at all
  EXPECT_EQ(Retrieve(L"ftp://" + host + L"/x"), -1);  // not http
  EXPECT_EQ(Retrieve(L"https://" + host + L"/x"), -1);
  EXPECT_EQ(Retrieve(L""), -1);
  EXPECT_EQ(RetrieveMMS(nullptr, 0), -1);
  EXPECT_TRUE(centre_.requests().empty());
  EXPECT_EQ(StoredFiles(), 0u);
}

TEST_F(TransportTest, OnlyA2xxRetrieveConfIsStored) {
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    const std::string pdu(kRetrieveConf, sizeof kRetrieveConf);
    if (req.target == "/404") {
      res.status = 404;
      res.set_content(pdu, "application/vnd.wap.mms-message");
    } else if (req.target == "/500") {
      res.status = 500;
      res.set_content("oops", "text/plain");
    } else if (req.target == "/302") {
      res.set_redirect("/elsewhere");
    } else if (req.target == "/empty") {
      res.set_content("", "application/vnd.wap.mms-message");
    } else if (req.target == "/short") {
      res.set_content_provider(
          1000, "application/vnd.wap.mms-message",
          [](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset == 0) {
              sink.write("\x8c\x84zzzzzzzzzz", 12);
              return true;
            }
            return false;  // closes mid-body
          });
    } else if (req.target == "/huge") {
      res.set_content_provider(3000000000ull, "application/octet-stream",
                               [](size_t, size_t, httplib::DataSink& sink) {
                                 static const char kChunk[4096] = {};
                                 return sink.write(kChunk, sizeof kChunk);
                               });
    } else {
      // Chunked, no Content-Length, in two pieces.
      res.set_chunked_content_provider(
          "application/vnd.wap.mms-message",
          [pdu](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
              sink.write(pdu.data(), 2);
            } else if (offset == 2) {
              sink.write(pdu.data() + 2, pdu.size() - 2);
            } else {
              sink.done();
            }
            return true;
          });
    }
  });
  const DWORD state_before = RegDword(mms::store::kReciveState);
  const std::wstring base = L"http://" + Wide(centre_.host()) + L"/";
  for (const wchar_t* path :
       {L"404", L"500", L"302", L"empty", L"short", L"huge"}) {
    EXPECT_EQ(Retrieve(base + path), -1) << path;
  }
  EXPECT_EQ(centre_.requests().size(), 6u);  // a redirect is not followed
  EXPECT_EQ(StoredFiles(), 0u);
  EXPECT_EQ(RegDword(mms::store::kReciveState), state_before);

  std::wstring stored;
  ASSERT_EQ(Retrieve(base + L"chunked", &stored), 0);
  EXPECT_EQ(mms::testing::ReadHostFile(Host(stored)),
            Bytes({0x8c, 0x84, 0x98, 'T', '9', 0, 0, 0}));
}

std::string Confirmation(const std::string& message_id) {
  // m-send-conf, transaction ID "T", version 1.0, status Ok, Message-ID.
  return std::string("\x8c\x81\x98T\0\x8d\x90\x92\x80\x8b", 10) + message_id +
         std::string(1, '\0');
}

// A send request of `size` bytes (at least 7).
std::string SendReq(size_t size) {
  std::string pdu(
      "\x8c\x80\x98"
      "1\0\x8d\x90",
      7);
  pdu.resize(size, 'x');
  return pdu;
}

TEST_F(TransportTest, OnlyAnOkConfirmationAcceptsAMessage) {
  std::vector<mms::transport::SubmissionReport> reports;
  mms::transport::SetSubmissionHook(
      [&reports](const mms::transport::SubmissionReport& r) {
        reports.push_back(r);
      });
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    if (req.body[1] == '\x85') {  // an acknowledgement: any 2xx will do
      res.status = 204;
    } else if (req.body.size() == 1000) {
      res.set_content("<html>busy</html>", "text/html");
    } else {
      // Refused: status 227 and a Response-Text with a charset.
      res.set_content(std::string("\x8c\x81\x98T\0\x8d\x90\x92\xe3"
                                  "\x93\x0e\xea"
                                  "no such user\0",
                                  25),
                      "application/vnd.wap.mms-message");
    }
  });
  RegSetString(const_cast<wchar_t*>(mms::store::kMmsKey),
               const_cast<wchar_t*>(mms::store::kMessageId),
               mms::testing::WBuf(L"old"));
  EXPECT_EQ(Submit(SendReq(1000)), -1);  // an HTML page: one attempt
  EXPECT_EQ(Submit(SendReq(100)), -1);
  EXPECT_EQ(Submit(std::string("\x8c\x85\x98T\0\x8d\x90\x91\x80", 9)), 0);
  mms::transport::SetSubmissionHook(nullptr);
  EXPECT_EQ(centre_.requests().size(), 3u);
  EXPECT_EQ(RegString(mms::store::kMessageId), L"old");
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].http_status, 200);
  EXPECT_EQ(reports[0].response_status, 0);
  EXPECT_EQ(reports[1].response_status, 0xE3);
  EXPECT_EQ(reports[1].response_text, "no such user");
  EXPECT_FALSE(reports[1].accepted);
  EXPECT_TRUE(reports[2].accepted);
}

TEST_F(TransportTest, ReplyIsReadUpTo1024BytesAndAnUnendedIdCounts) {
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    if (req.body.size() == 200) {
      // The Message-ID sits in the first kilobyte; padding follows.
      res.set_content(Confirmation("first") + std::string(3000, '\x01'),
                      "application/vnd.wap.mms-message");
    } else {
      // The reply ends inside the Message-ID text, without its zero.
      res.set_content(std::string("\x8c\x81\x92\x80\x8bunended", 12),
                      "application/vnd.wap.mms-message");
    }
  });
  ASSERT_EQ(Submit(SendReq(200)), 0);
  EXPECT_EQ(RegString(mms::store::kMessageId), L"first");
  ASSERT_EQ(Submit(SendReq(300)), 0);
  EXPECT_EQ(RegString(mms::store::kMessageId), L"unended");
}

TEST_F(TransportTest, AMessageThatWentOutIsNeverPostedTwice) {
  // Under this time scale the transfer's deadline is one second.
  mms::platform::SetTimeScaleForTest(0.002);
  centre_.SetHandler([](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    res.set_content(Confirmation("late"), "application/vnd.wap.mms-message");
  });
  EXPECT_EQ(Submit(SendReq(1000)), -1);
  mms::platform::SetTimeScaleForTest(1.0);
  EXPECT_EQ(centre_.requests().size(), 1u);
}

TEST_F(TransportTest, APostRefusedBeforeItWentOutIsPostedAgain) {
  // Bigger than any socket buffer, so a reset connection cannot have
  // taken it whole.
  const std::string pdu = SendReq(4 * 1024 * 1024);
  mms::testing::RefusingForwarder refusing(proxy_.port(), 2);
  setenv("MMS_WAP_PROXY", refusing.address().c_str(), 1);
  centre_.SetHandler([](const httplib::Request&, httplib::Response& res) {
    res.set_content(Confirmation("third"), "application/vnd.wap.mms-message");
  });
  EXPECT_EQ(Submit(pdu), 0);
  EXPECT_EQ(refusing.accepted(), 3);
  ASSERT_EQ(centre_.requests().size(), 1u);
  EXPECT_EQ(centre_.requests()[0].body.size(), pdu.size());
  EXPECT_EQ(RegString(mms::store::kMessageId), L"third");
}

// Direct requests carry the operator's headers; a centre URL is posted to
// at its path.
TEST_F(TransportTest, DirectRequestsAndOperatorHeaders) {
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    req.method == "GET"
        ? ServePdu(res)
        : res.set_content(Confirmation("u"), "application/vnd.wap.mms-message");
  });
  proxy_.Stop();  // only a direct request can arrive
  setenv("MMS_WAP_PROXY", "none", 1);
  setenv("MMS_USER_AGENT", "Operator-Phone/1.0", 1);
  setenv("MMS_UAPROF", "http://uaprof.example.net/phone.xml", 1);
  EXPECT_EQ(Retrieve(L"http://" + Wide(centre_.host()) + L"/a?b=c"), 0);
  unsetenv("MMS_USER_AGENT");
  unsetenv("MMS_UAPROF");
  const std::string url = "http://" + centre_.host() + "/mmsc/send?v=2";
  setenv("MMS_MMSC_HOST", url.c_str(), 1);
  EXPECT_EQ(Submit(SendReq(60)), 0);
  setenv("MMS_MMSC_HOST", "https://example.net/mmsc", 1);
  EXPECT_EQ(Submit(SendReq(60)), -1);
  const auto requests = centre_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/a?b=c");
  EXPECT_EQ(requests[0].user_agent, "Operator-Phone/1.0");
  EXPECT_EQ(requests[0].profile, "http://uaprof.example.net/phone.xml");
  EXPECT_EQ(requests[1].target, "/mmsc/send?v=2");
}

TEST_F(TransportTest, RetrievalAndSubmissionThroughADeadProxyFail) {
  proxy_.Stop();
  setenv("MMS_WAP_PROXY", proxy_.address().c_str(), 1);
  EXPECT_EQ(Retrieve(L"http://" + Wide(centre_.host()) + L"/x"), -1);
  EXPECT_EQ(Submit(std::string(100, 'x')), -1);
  EXPECT_TRUE(centre_.requests().empty());
  EXPECT_EQ(StoredFiles(), 0u);
}

TEST(SendConfirmationTest, FieldsAreSteppedOverByTheFormOfTheirValue) {
  // A Date whose value bytes look like a Message-ID field, a status, a
  // Response-Text with a charset, then the real Message-ID.
  const std::string reply(
      "\x8c\x81\x85\x04\x8b"
      "AB\0\x92\xe2\x93\x05\xea"
      "bad\0\x8bid\0",
      21);
  SendConfirmation c(reinterpret_cast<const unsigned char*>(reply.data()),
                     static_cast<int>(reply.size()));
  c.Parse();
  EXPECT_EQ(c.message_type(), 0x81);
  EXPECT_STREQ(c.message_id(), "id");
  EXPECT_EQ(c.response_status(), 0xE2);
  EXPECT_STREQ(c.response_text(), "bad");
}

}  // namespace
