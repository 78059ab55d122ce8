// send_test.cc: sending through the entry points, end to end over
// tinyproxy to the recording centre: the stored copy, the posted bytes,
// the registry results, stopping a submission, read reports and the
// operation selector.
#include <string>

#include "connmgr/connmgr_entries.h"
#include "entry_fixture.h"
#include "platform/handle_table.h"
#include "platform/test_seams.h"

namespace mms::testing {
namespace {

// m-send-conf: type, transaction ID "T", version 1.0, status Ok,
// Message-ID "mid-1".
const char kConfirmation[] = "8c 81 98 54 00 8d 90 92 80 8b 6d 69 64 2d 31 00";

bool Contains(const std::string& haystack, const Bytes& needle) {
  return haystack.find(Text(needle)) != std::string::npos;
}

class Sending : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    Reply(kConfirmation);
  }

  // Every request gets the reply hex.
  void Reply(const std::string& hex) {
    const std::string body = Text(Hex(hex));
    centre_.SetHandler([body](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, "application/vnd.wap.mms-message");
    });
  }

  // Sends a user's message; the path of the stored copy, or "" on failure.
  std::wstring SendUserMessage(const std::wstring& text) {
    MMS_Custom_Data* message = NewTextMessage(text);
    wchar_t path[260] = {};
    wchar_t third[260] = L"untouched";
    const int result = CMMS::MMS_Send(message, path, third, 0);
    EXPECT_EQ(std::wstring(third), L"untouched");
    if (result != 0) {
      delete message;
      return L"";
    }
    return path;
  }
};

TEST_F(Sending, UserMessageIsStoredPostedAndReported) {
  const std::wstring path = SendUserMessage(L"first words");
  ASSERT_EQ(path.rfind(L"\\Windows\\Messaging\\Varnholt", 0), 0u);
  WaitForWorkers();

  const auto requests = centre_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "//");
  EXPECT_EQ(requests[0].version, "HTTP/1.0");
  EXPECT_EQ(requests[0].user_agent, "Corvix.exe");
  EXPECT_EQ(requests[0].content_type, "application/vnd.wap.mms-message");
  // The centre got exactly the stored bytes.
  EXPECT_EQ(requests[0].body, Text(ReadHostFile(Host(path))));
  EXPECT_EQ(RegString(L"MessageID"), L"mid-1");
  EXPECT_EQ(RegDword(L"SendOK"), 1u);
  EXPECT_NE(RegDword(L"SendState"), kAbsent);
}

TEST_F(Sending, FailedSubmissionsReportTwo) {
  // A reply that is no MMS PDU: the message went out, so one post only.
  Reply("3c 68 74 6d 6c 3e");  // "<html>"
  ASSERT_FALSE(SendUserMessage(L"to an error page").empty());
  WaitForWorkers();
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_EQ(RegDword(L"SendOK"), 2u);
  DWORD state = RegDword(L"SendState");
  EXPECT_NE(state, kAbsent);

  // No connection comes up (every request is cancelled): nothing is
  // posted although the centre would confirm.
  Reply(kConfirmation);
  std::vector<connmgr::Entry> entries;
  ASSERT_TRUE(connmgr::ListEntries(&entries));
  ASSERT_FALSE(entries.empty());
  for (auto& entry : entries) {
    entry.script = {CONNMGR_STATUS_CONNECTIONCANCELED};
    ASSERT_TRUE(connmgr::WriteEntry(entry));
  }
  ASSERT_FALSE(SendUserMessage(L"no network").empty());
  WaitForWorkers();
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_EQ(RegDword(L"SendOK"), 2u);
  EXPECT_NE(RegDword(L"SendState"), state);
  state = RegDword(L"SendState");
  for (auto& entry : entries) {
    entry.script.clear();
    ASSERT_TRUE(connmgr::WriteEntry(entry));
  }

  // The proxy is down: four failed sends, no request reaches the centre.
  proxy_.Stop();
  setenv("MMS_WAP_PROXY", proxy_.address().c_str(), 1);
  ASSERT_FALSE(SendUserMessage(L"nobody listens").empty());
  WaitForWorkers();
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_EQ(RegDword(L"SendOK"), 2u);
  EXPECT_NE(RegDword(L"SendState"), state);
  EXPECT_EQ(pWebConnect, nullptr);
}

// A second message owns the send handle; StopSend ends its thread before
// it reports and returns only once it has ended.
TEST_F(Sending, StopSendEndsTheRunningSubmissionBeforeItReports) {
  centre_.SetHandler([this](const httplib::Request& req,
                            httplib::Response& res) {
    (req.body.find("first") != std::string::npos ? first_gate_ : second_gate_)
        .Pass();
    res.set_content(Text(Hex(kConfirmation)),
                    "application/vnd.wap.mms-message");
  });
  ASSERT_FALSE(SendUserMessage(L"first").empty());
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 1; }));
  ASSERT_FALSE(SendUserMessage(L"second").empty());
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 2; }));
  HANDLE second = g_hSendThread;
  ASSERT_NE(second, nullptr);

  // The first thread ends and reports, leaving the second's handle alone.
  first_gate_.Open();
  ASSERT_TRUE(WaitUntil([this] { return client::RunningWorkers() == 1; }));
  EXPECT_EQ(RegDword(L"SendOK"), 1u);
  const DWORD state = RegDword(L"SendState");
  EXPECT_EQ(g_hSendThread, second);

  EXPECT_EQ(CMMS::MMS_StopSend(), 0);
  EXPECT_EQ(client::RunningWorkers(), 0);
  EXPECT_EQ(g_hSendThread, nullptr);
  EXPECT_EQ(pWebConnect, nullptr);
  second_gate_.Open();
  EXPECT_EQ(RegDword(L"SendState"), state);
  // A later message is sent and reported as usual.
  ASSERT_FALSE(SendUserMessage(L"after the stop").empty());
  WaitForWorkers();
  EXPECT_NE(RegDword(L"SendState"), state);
}

TEST_F(Sending, MinusOneMeansNothingWasSent) {
  // No copy can be stored: nothing is submitted.
  std::filesystem::remove_all(Host(L"\\Windows\\Messaging"));
  MMS_Custom_Data* message = NewTextMessage(L"no folder");
  wchar_t path[260] = L"as passed";
  EXPECT_EQ(CMMS::MMS_Send(message, path, nullptr, 0), -1);
  EXPECT_EQ(std::wstring(path), L"as passed");
  delete message;  // still the caller's
  WaitForWorkers();
  EXPECT_EQ(RequestCount(), 0u);
  EXPECT_EQ(RegDword(L"SendOK"), kAbsent);

  // No thread for the submission: the copy stored for it goes again, and
  // no handle is left behind; the silent path reports the same.
  std::filesystem::create_directories(Host(L"\\Windows\\Messaging"));
  const size_t handles = platform::OpenHandleCount();
  message = NewTextMessage(L"no thread");
  platform::test::FailNthThreadCreation(1);
  ASSERT_EQ(CMMS::MMS_Send(message, path, nullptr, 0), -1);
  EXPECT_EQ(std::wstring(path), L"as passed");
  EXPECT_EQ(StoredCount(), 0u);
  platform::test::FailNthThreadCreation(1);
  ASSERT_EQ(CMMS::MMS_Send(message, path, nullptr, 1), -1);
  delete message;
  EXPECT_EQ(platform::OpenHandleCount(), handles);
  WaitForWorkers();
  EXPECT_EQ(RequestCount(), 0u);
  EXPECT_EQ(g_hSendThread, nullptr);
}

TEST_F(Sending, ReadReportIsAnAutoTextMessageSentSilently) {
  EXPECT_EQ(CMMS::MMS_SendReadReport(WBuf(L"13900139000"), WBuf(L"read it")),
            0);
  WaitForWorkers();
  const auto requests = centre_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& pdu = requests[0].body;
  EXPECT_TRUE(Contains(pdu, Hex("8c 80")));  // m-send-req
  EXPECT_TRUE(Contains(pdu, Hex("8a 83")));  // X-Mms-Message-Class Auto
  // Subject "已读报告" as UTF-8 text.
  EXPECT_TRUE(Contains(pdu, Hex("e5 b7 b2 e8 af bb e6 8a a5 e5 91 8a 00")));
  EXPECT_NE(pdu.find("13900139000"), std::string::npos);
  EXPECT_NE(pdu.find("readreport.txt"), std::string::npos);
  EXPECT_NE(pdu.find("read it"), std::string::npos);
  // Nothing stored, nothing reported.
  EXPECT_EQ(StoredCount(), 0u);
  EXPECT_EQ(RegDword(L"SendOK"), kAbsent);
  EXPECT_EQ(RegDword(L"SendState"), kAbsent);
}

TEST_F(Sending, NetOperationTwoSendsOtherOperationsDoNothing) {
  MMS_Custom_Data* message = NewTextMessage(L"selected");
  EXPECT_EQ(CMMS::MMS_NetOpretion(message, WBuf(L"x"), 0), 0);
  EXPECT_EQ(CMMS::MMS_NetOpretion(message, WBuf(L"x"), 3), 0);
  EXPECT_EQ(RequestCount(), 0u);

  wchar_t path[260] = {};
  ASSERT_EQ(CMMS::MMS_NetOpretion(message, path, 2), 0);
  WaitForWorkers();
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_EQ(centre_.requests()[0].body, Text(ReadHostFile(Host(path))));
  EXPECT_EQ(RegDword(L"SendOK"), 1u);
}

}  // namespace
}  // namespace mms::testing
