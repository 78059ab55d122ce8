// Retrieval and submission through a real proxy (tinyproxy) in front of a
// recording loopback MMS centre: request lines, headers, bodies, stored
// files, registry values, retries and faults.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client/registry_values.h"
#include "platform/thread.h"
#include "support/http_recorder.h"
#include "support/loopback.h"
#include "support/test_support.h"
#include "transport/connection.h"
#include "transport/transport.h"

namespace {

using mms::testing::Bytes;
using mms::testing::HttpRecorder;
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

  std::vector<std::filesystem::path> StoredFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(
             Host(L"\\Windows\\Messaging"))) {
      files.push_back(entry.path());
    }
    return files;
  }

  DWORD Dword(const wchar_t* name) {
    DWORD value = 0xDEADBEEF;
    RegGetValue(const_cast<wchar_t*>(mms::client::kMmsKey),
                const_cast<wchar_t*>(name), &value, sizeof value);
    return value;
  }
  std::wstring String(const wchar_t* name) {
    wchar_t text[260] = {};
    RegGetValue(const_cast<wchar_t*>(mms::client::kMmsKey),
                const_cast<wchar_t*>(name), text, sizeof text);
    return text;
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

// ---------------------------------------------------------------------------
// Retrieval.

TEST_F(TransportTest, RetrievalStoresBodyAndTwoZerosAndAnnouncesIt) {
  centre_.SetHandler([](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string("\x8c\x84\x98T9\0", 6),
                    "application/vnd.wap.mms-message");
  });
  const DWORD state_before = Dword(mms::client::kReciveState);
  std::wstring stored;
  ASSERT_EQ(Retrieve(L"http://" + Wide(centre_.host()) + L"/a/b/msg7", &stored),
            0);

  const auto requests = centre_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "//msg7");  // middle segments dropped
  EXPECT_EQ(requests[0].version, "HTTP/1.1");
  EXPECT_EQ(requests[0].user_agent, "Corvix.exe");

  EXPECT_EQ(stored.rfind(L"\\Windows\\Messaging\\Varnholt", 0), 0u);
  EXPECT_EQ(mms::testing::ReadHostFile(Host(stored)),
            Bytes({0x8c, 0x84, 0x98, 'T', '9', 0, 0, 0}));
  EXPECT_EQ(String(mms::client::kNewMmsName), stored);
  EXPECT_EQ(Dword(mms::client::kNewMms), 1u);
  EXPECT_NE(Dword(mms::client::kReciveState), state_before);
}

TEST_F(TransportTest, EmptyBodyAndErrorPagesAreStoredLikeMessages) {
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    if (req.target == "//missing") {
      res.status = 404;
      res.set_content("gone", "text/plain");
    } else {
      res.set_content("", "application/vnd.wap.mms-message");
    }
  });
  std::wstring stored;
  ASSERT_EQ(Retrieve(L"http://" + Wide(centre_.host()) + L"/empty", &stored),
            0);
  EXPECT_EQ(mms::testing::ReadHostFile(Host(stored)), Bytes({0, 0}));
  ASSERT_EQ(Retrieve(L"http://" + Wide(centre_.host()) + L"/missing", &stored),
            0);
  EXPECT_EQ(mms::testing::ReadHostFile(Host(stored)),
            Bytes({'g', 'o', 'n', 'e', 0, 0}));
}

TEST_F(TransportTest, MalformedUrlsFailBeforeAnyTraffic) {
  const std::wstring host = Wide(centre_.host());
  EXPECT_EQ(Retrieve(L"http://" + host), -1);             // no path at all
  EXPECT_EQ(Retrieve(L"ftp://" + host + L"/x"), -1);      // not http
  EXPECT_EQ(Retrieve(L""), -1);
  EXPECT_EQ(Retrieve(L"http://" + host + L"/" + std::wstring(30, L'x')), -1);
  EXPECT_EQ(RetrieveMMS(nullptr, 0), -1);
  EXPECT_TRUE(centre_.requests().empty());
  EXPECT_TRUE(StoredFiles().empty());
}

TEST_F(TransportTest, ResponsesThatCannotBeStoredWholeLeaveNothing) {
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    if (req.target == "//chunked") {
      res.set_chunked_content_provider(
          "text/plain", [](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
              sink.write("abc", 3);
            } else {
              sink.done();
            }
            return true;
          });
    } else if (req.target == "//short") {
      res.set_content_provider(
          1000, "application/vnd.wap.mms-message",
          [](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset == 0) {
              sink.write("0123456789", 10);
              return true;
            }
            return false;  // closes mid-body
          });
    } else {
      res.set_header("Content-Length", "3000000000");
      res.set_content_provider(
          3000000000ull, "application/octet-stream",
          [](size_t, size_t, httplib::DataSink& sink) {
            static const char kChunk[4096] = {};
            return sink.write(kChunk, sizeof kChunk);
          });
    }
  });
  const DWORD state_before = Dword(mms::client::kReciveState);
  const std::wstring base = L"http://" + Wide(centre_.host()) + L"/";
  EXPECT_EQ(Retrieve(base + L"chunked"), -1);  // no Content-Length
  EXPECT_EQ(Retrieve(base + L"short"), -1);
  EXPECT_EQ(Retrieve(base + L"huge"), -1);
  EXPECT_TRUE(StoredFiles().empty());
  EXPECT_EQ(Dword(mms::client::kReciveState), state_before);
}

TEST_F(TransportTest, RetrievalGivesUpAfterFourFailedSends) {
  proxy_.Stop();
  EXPECT_EQ(Retrieve(L"http://" + Wide(centre_.host()) + L"/x"), -1);
  EXPECT_TRUE(StoredFiles().empty());
}

// ---------------------------------------------------------------------------
// Submission.

std::string Confirmation(const std::string& message_id) {
  // m-send-conf, transaction ID "T", version 1.0, status Ok, Message-ID.
  return std::string("\x8c\x81\x98T\0\x8d\x90\x92\x80\x8b", 10) + message_id +
         std::string(1, '\0');
}

TEST_F(TransportTest, SubmissionPostsThePduAndPublishesTheMessageId) {
  centre_.SetHandler([](const httplib::Request&, httplib::Response& res) {
    res.set_content(Confirmation("id-42"), "application/vnd.wap.mms-message");
  });
  const std::string pdu("\x8c\x80\x98" "1\0\x8d\x90", 7);
  ASSERT_EQ(Submit(pdu), 0);
  const auto requests = centre_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "//");
  EXPECT_EQ(requests[0].version, "HTTP/1.0");
  EXPECT_EQ(requests[0].user_agent, "Corvix.exe");
  EXPECT_EQ(requests[0].content_type, "application/vnd.wap.mms-message");
  EXPECT_EQ(requests[0].body, pdu);
  EXPECT_EQ(String(mms::client::kMessageId), L"id-42");
}

TEST_F(TransportTest, WrongRepliesAreRetriedOnlyForLongPdus) {
  centre_.SetHandler([](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html>busy</html>", "text/html");
  });
  EXPECT_EQ(Submit(std::string(1000, 'x')), -1);
  EXPECT_EQ(centre_.requests().size(), 4u);
  EXPECT_EQ(Submit(std::string(50, 'x')), -1);
  EXPECT_EQ(centre_.requests().size(), 5u);
}

TEST_F(TransportTest, ReplyIsReadUpTo1024BytesAndAnUnendedIdCounts) {
  centre_.SetHandler([](const httplib::Request& req, httplib::Response& res) {
    if (req.body == "long") {
      // The Message-ID sits in the first kilobyte; padding follows.
      res.set_content(Confirmation("first") + std::string(3000, '\x01'),
                      "application/vnd.wap.mms-message");
    } else {
      // The reply ends inside the Message-ID text, without its zero.
      res.set_content(std::string("\x8c\x81\x8bunended", 10),
                      "application/vnd.wap.mms-message");
    }
  });
  ASSERT_EQ(Submit("long"), 0);
  EXPECT_EQ(String(mms::client::kMessageId), L"first");
  ASSERT_EQ(Submit("tail"), 0);
  EXPECT_EQ(String(mms::client::kMessageId), L"unended");
}

TEST_F(TransportTest, SubmissionThroughADeadProxyFails) {
  proxy_.Stop();
  EXPECT_EQ(Submit(std::string(100, 'x')), -1);
  EXPECT_TRUE(centre_.requests().empty());
}

TEST(SendConfirmationTest, TextFieldsStopAtZeroOrAtAFieldCode) {
  // Message-ID "ab" ended by the next field code, not by a zero; then a
  // response text cut at 259 bytes.
  std::string reply("\x8c\x81\x8b" "ab\x92\x80\x93", 8);
  reply += std::string(300, 'r');
  SendConfirmation c(reinterpret_cast<const unsigned char*>(reply.data()),
                     static_cast<int>(reply.size()));
  c.Parse();
  EXPECT_EQ(c.message_type(), 0x81);
  EXPECT_STREQ(c.message_id(), "ab");
  EXPECT_EQ(c.response_status(), 0x80);
  EXPECT_EQ(std::string(c.response_text()), std::string(259, 'r'));
}

}  // namespace
