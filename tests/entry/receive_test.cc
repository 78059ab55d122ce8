// receive_test.cc: retrieval requests end to end over tinyproxy and the
// recording centre: the stored message, the registry values, the
// acknowledgement on the wire, the busy state, and the queue that keeps
// retrievals one at a time (waiting, giving up a hung one, concurrent
// callers).

#include <dlfcn.h>
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "entry_fixture.h"
#include "platform/handle_table.h"
#include "platform/test_seams.h"
#include "platform/text_convert.h"
#include "push/wap_push.h"
#include "store/announcements.h"
#include "support/mms_test_access.h"

namespace {
std::atomic<int> g_converter_opens{0};
}  // namespace

// Counts converter opens: this program's iconv_open comes before the C
// library's for every caller in it, the library's converter pool included.
extern "C" iconv_t iconv_open(const char* to, const char* from) {
  using Open = iconv_t (*)(const char*, const char*);
  static const Open next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, __func__));
  ++g_converter_opens;
  return next(to, from);
}

namespace mms::testing {
namespace {

using Clock = std::chrono::steady_clock;

const char kConfirmation[] = "8c 81 98 54 00 8d 90 92 80 8b 6d 69 64 00";

// m-retrieve-conf with transaction ID "T-<name>", version 1.0 and an empty
// multipart/mixed body.
std::string RetrieveConf(const std::string& name) {
  return Text(Hex("8c 84 98")) + "T-" + name + Text(Hex("00 8d 90 84 a3 00"));
}

class Retrieval : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    // GET /inbox/<name> serves RetrieveConf(name); "hang" and "pair*" wait
    // at the first gate, "slow" at the second; POSTs are confirmed.
    centre_.SetHandler([this](const httplib::Request& req,
                              httplib::Response& res) {
      const std::string name = req.target.substr(req.target.rfind('/') + 1);
      if (req.method == "POST") {
        res.set_content(Text(Hex(kConfirmation)),
                        "application/vnd.wap.mms-message");
        return;
      }
      if (name == "hang" || name.rfind("pair", 0) == 0) {
        first_gate_.Pass();
      } else if (name == "slow") {
        second_gate_.Pass();
      } else if (name == "broken") {
        // Not a message: the download fails.
        res.set_chunked_content_provider("application/vnd.wap.mms-message",
                                         [](size_t, httplib::DataSink& sink) {
                                           sink.write("xx", 2);
                                           sink.done();
                                           return true;
                                         });
        return;
      }
      // "notid*": a message that does not repeat its transaction ID.
      res.set_content(name.rfind("notid", 0) == 0
                          ? Text(Hex("8c 84 8d 90 84 a3 00"))
                          : RetrieveConf(name),
                      "application/vnd.wap.mms-message");
    });
  }

  std::wstring Url(const std::string& name) {
    const std::string url = "http://" + centre_.host() + "/inbox/" + name;
    return std::wstring(url.begin(), url.end());
  }

  int Receive(const std::string& name) {
    return CMMS::MMS_Recived(WBuf(Url(name)));
  }

  // "GET name", "ACK <name acknowledged>" or "POST" (any other PDU) per
  // request, in arrival order.
  std::vector<std::string> Exchanges() {
    std::vector<std::string> out;
    for (const auto& r : centre_.requests()) {
      if (r.method == "GET") {
        out.push_back("GET " + r.target.substr(r.target.rfind('/') + 1));
      } else if (r.body.compare(0, 2, "\x8c\x85") == 0) {
        out.push_back("ACK " + r.body.substr(5, r.body.find('\0', 3) - 5));
      } else {
        out.push_back("POST");
      }
    }
    return out;
  }

  int QueueLength() {
    std::lock_guard<std::mutex> lock(client::StateMutex());
    return g_nRecvQueue;
  }
};

TEST_F(Retrieval, MessageIsStoredAnnouncedAndAcknowledged) {
  ASSERT_EQ(Receive("m1"), 0);
  WaitForWorkers();

  EXPECT_EQ(Exchanges(), (std::vector<std::string>{"GET m1", "ACK m1"}));
  const std::wstring path = RegString(L"NewMMSName");
  ASSERT_EQ(path.rfind(L"\\Windows\\Messaging\\Varnholt", 0), 0u);
  EXPECT_EQ(Text(ReadHostFile(Host(path))),
            RetrieveConf("m1") + std::string(2, '\0'));
  EXPECT_EQ(RegDword(L"NewMMS"), 1u);
  EXPECT_NE(RegDword(L"ReciveState"), kAbsent);
  EXPECT_EQ(IsNetWorked, 2);

  // The next retrieval runs on a thread of its own and converts the same
  // texts with the converters kept open: it opens none.
  const int opens = g_converter_opens;
  ASSERT_EQ(Receive("m2"), 0);
  WaitForWorkers();
  EXPECT_EQ(g_converter_opens, opens);
  EXPECT_EQ(RegDword(L"NewMMS"), 1u);
}

TEST_F(Retrieval, TwoRetrievalsEndingTogetherAcknowledgeTheirOwnMessages) {
  CMMS mms;
  ASSERT_EQ(mms.GetMMS_Manual(WBuf(Url("pair-a"))), 0);
  // The second starts on the connection the first brought up.
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 1; }));
  ASSERT_EQ(mms.GetMMS_Manual(WBuf(Url("pair-b"))), 0);
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 2; }));
  first_gate_.Open();  // both downloads end at once
  WaitForWorkers();
  std::vector<std::string> exchanges = Exchanges();
  std::sort(exchanges.begin(), exchanges.end());
  EXPECT_EQ(exchanges, (std::vector<std::string>{"ACK pair-a", "ACK pair-b",
                                                 "GET pair-a", "GET pair-b"}));
}

TEST_F(Retrieval, AMessageWithoutTransactionIdIsAnsweredForItsNotification) {
  // Not announced: nothing to answer with, and the retrieval ends.
  ASSERT_EQ(Receive("notid-1"), 0);
  WaitForWorkers();
  EXPECT_EQ(RequestCount(), 1u);
  EXPECT_EQ(IsNetWorked, 2);

  // Announced with transaction ID "N2": an m-notifyresp-ind, Retrieved.
  std::string url;
  ASSERT_TRUE(platform::WideToUtf8Text(Url("notid-2"), &url));
  ASSERT_TRUE(store::RememberAnnouncement(url, "N2"));
  ASSERT_EQ(Receive("notid-2"), 0);
  WaitForWorkers();
  const auto requests = centre_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].body, Text(Hex("8c 83 98 4e 32 00 8d 90 95 81 91 80")));
  EXPECT_EQ(IsNetWorked, 2);
  EXPECT_EQ(RegDword(L"NewMMS"), 1u);
}

TEST_F(Retrieval, FailedDownloadOrAcknowledgementEndsTheRetrieval) {
  ASSERT_EQ(Receive("broken"), 0);
  WaitForWorkers();
  EXPECT_EQ(Exchanges(), std::vector<std::string>{"GET broken"});
  EXPECT_EQ(RegDword(L"NewMMS"), 2u);
  EXPECT_NE(RegDword(L"ReciveState"), kAbsent);
  EXPECT_EQ(RegString(L"NewMMSName"), L"");
  EXPECT_EQ(StoredCount(), 0u);
  EXPECT_EQ(IsNetWorked, 2);
  EXPECT_EQ(pWebConnect, nullptr);

  // The receive thread starts; its acknowledgement's thread does not.
  platform::test::FailNthThreadCreation(2);
  const size_t handles = platform::OpenHandleCount();
  ASSERT_EQ(Receive("m1"), 0);
  WaitForWorkers();
  EXPECT_EQ(Exchanges(), (std::vector<std::string>{"GET broken", "GET m1"}));
  EXPECT_EQ(IsNetWorked, 2);
  EXPECT_EQ(QueueLength(), 0);
  EXPECT_EQ(platform::OpenHandleCount(), handles);
}

TEST_F(Retrieval, RequestBehindAHungRetrievalGivesUpAndStartsTheNext) {
  const auto start = Clock::now();
  ASSERT_EQ(Receive("hang"), 0);
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 1; }));

  EXPECT_EQ(Receive("m2"), 0);
  const auto waited = Clock::now() - start;
  // 100 (scaled) seconds from the hung retrieval's start.
  EXPECT_GE(waited, std::chrono::milliseconds(
                        static_cast<int>(100 * 1000 * kEntryTimeScale)));
  EXPECT_LT(waited, std::chrono::seconds(5));

  ASSERT_TRUE(WaitUntil([this] {
    return RegString(L"NewMMSName").size() > 0 && IsNetWorked == 2;
  }));
  // The hung download may meanwhile have stalled out and tried again.
  std::vector<std::string> others;
  for (const std::string& exchange : Exchanges()) {
    if (exchange != "GET hang") {
      others.push_back(exchange);
    }
  }
  EXPECT_EQ(Exchanges().front(), "GET hang");
  EXPECT_EQ(others, (std::vector<std::string>{"GET m2", "ACK m2"}));
  EXPECT_EQ(Text(ReadHostFile(Host(RegString(L"NewMMSName")))),
            RetrieveConf("m2") + std::string(2, '\0'));

  // The given-up retrieval ends later without touching the queue or the
  // state of the ones after it.
  first_gate_.Open();
  WaitForWorkers();
  EXPECT_EQ(QueueLength(), 0);
  EXPECT_EQ(IsNetWorked, 2);
}

// Callers wait their turn behind a running retrieval, which a read report
// sent meanwhile leaves busy, and start once each in order.
TEST_F(Retrieval, ConcurrentCallersStartEveryRequestOnceInOrder) {
  platform::SetTimeScaleForTest(0.05);  // 100 steps: 5 s, no give-up
  ASSERT_EQ(Receive("slow"), 0);
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 1; }));
  EXPECT_EQ(CMMS::MMS_SendReadReport(WBuf(L"13900139000"), WBuf(L"seen")), 0);
  ASSERT_TRUE(WaitUntil(
      [this] { return RequestCount() == 2 && client::RunningWorkers() == 1; }));
  EXPECT_EQ(IsNetWorked, 1);
  std::vector<std::thread> callers;
  std::atomic<int> returned{0};
  std::atomic<int> failures{0};
  for (const char* name : {"m2", "m3", "m4"}) {
    const int before = QueueLength();
    callers.emplace_back([this, name, &returned, &failures] {
      failures += Receive(name) != 0 ? 1 : 0;
      ++returned;
    });
    ASSERT_TRUE(WaitUntil([&] { return QueueLength() == before + 1; }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(returned, 0);  // still waiting
  EXPECT_EQ(RequestCount(), 2u);
  second_gate_.Open();
  for (auto& caller : callers) {
    caller.join();
  }
  WaitForWorkers();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Exchanges(), (std::vector<std::string>{
                             "GET slow", "POST", "ACK slow", "GET m2", "ACK m2",
                             "GET m3", "ACK m3", "GET m4", "ACK m4"}));
  EXPECT_EQ(IsNetWorked, 2);
  EXPECT_EQ(QueueLength(), 0);
}

TEST_F(Retrieval, StopEndsRunningRetrievalsAndTheirThreads) {
  // Operation 1 of the selector queues the named location; a direct fetch
  // runs beside it. The centre holds both.
  ASSERT_EQ(CMMS::MMS_NetOpretion(nullptr, WBuf(Url("slow")), 1), 0);
  CMMS mms;
  ASSERT_EQ(mms.GetMMS_Manual(WBuf(Url("hang"))), 0);
  ASSERT_TRUE(WaitUntil([this] { return RequestCount() == 2; }));
  EXPECT_EQ(CMMS::Stop(), 0);
  EXPECT_EQ(client::RunningWorkers(), 0);
  EXPECT_EQ(g_MMSName, nullptr);
  EXPECT_EQ(IsNetWorked, 2);
  EXPECT_EQ(QueueLength(), 0);
  // Nobody waits behind them: the next request runs at once.
  EXPECT_EQ(Receive("m2"), 0);
  WaitForWorkers();
  EXPECT_EQ(RegDword(L"NewMMS"), 1u);
  EXPECT_EQ(StoredCount(), 1u);
  const std::vector<std::string> exchanges = Exchanges();
  ASSERT_EQ(exchanges.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(exchanges.begin() + 2, exchanges.end()),
            (std::vector<std::string>{"GET m2", "ACK m2"}));
}

TEST_F(Retrieval, RefusedRequestsQueueAndStartNothing) {
  EXPECT_EQ(CMMS::MMS_Recived(nullptr), -1);
  // 260 characters do not fit the receive buffer with its terminator.
  std::wstring long_url = Url("m1");
  long_url.insert(long_url.find(L"/m1"), 260 - long_url.size(), L'x');
  ASSERT_EQ(long_url.size(), 260u);
  EXPECT_EQ(CMMS::MMS_Recived(WBuf(long_url)), -1);
  CMMS mms;
  EXPECT_EQ(mms.GetMMS_Manual(nullptr), -1);
  EXPECT_EQ(QueueLength(), 0);
  EXPECT_EQ(IsNetWorked, 2);
  // An acknowledgement with no message named ends the retrieval silently.
  IsNetWorked = 1;
  EXPECT_EQ(CMMS::MMS_SendDeliveryAcknowlegement(), 0);
  WaitForWorkers();
  EXPECT_EQ(IsNetWorked, 2);
  EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(Retrieval, DirectFetchesRunOutsideTheQueueAndLeaveTheBusyState) {
  IsNetWorked = 1;  // as while a queued retrieval runs
  CMMS mms;
  ASSERT_EQ(mms.GetMMS_Manual(WBuf(Url("m1"))), 0);
  WaitForWorkers();

  // A decoded push's location, converted from the ANSI code page.
  EXPECT_EQ(MmsTestAccess::ReciveMMS(mms, nullptr), -1);
  const std::string url = "http://" + centre_.host() + "/p1";
  auto* push =
      static_cast<WapPush_Message*>(LocalAlloc(LPTR, sizeof(WapPush_Message)));
  push->pszContentLocation = static_cast<char*>(LocalAlloc(LPTR, 64));
  url.copy(push->pszContentLocation, 63);
  EXPECT_EQ(MmsTestAccess::ReciveMMS(mms, push), 0);
  mms::push::FreeWapPushMessage(push);
  WaitForWorkers();

  EXPECT_EQ(Exchanges(),
            (std::vector<std::string>{"GET m1", "ACK m1", "GET p1", "ACK p1"}));
  EXPECT_EQ(RegDword(L"NewMMS"), 1u);
  EXPECT_EQ(IsNetWorked, 1);
  EXPECT_EQ(QueueLength(), 0);
}

TEST_F(Retrieval, BurstOfRequestsGivesNoRetrievalUpBeforeItsLimit) {
  std::filesystem::create_directories(Host(L"\\KestLogDir"));
  // Three requests at once; the first two hang until the gate opens.
  ASSERT_EQ(Receive("hang"), 0);
  std::thread second([this] { EXPECT_EQ(Receive("hang"), 0); });
  EXPECT_TRUE(WaitUntil([this] { return QueueLength() == 2; }));
  std::thread third([this] { EXPECT_EQ(Receive("m3"), 0); });
  second.join();
  third.join();
  EXPECT_TRUE(WaitUntil([this] { return RegDword(L"NewMMS") == 1u; }));
  first_gate_.Open();
  WaitForWorkers();
  int given_up = 0;
  for (const std::string& line : LogLines()) {
    unsigned seconds = 0;
    if (sscanf(line.c_str(), "Retrieval given up after %u s", &seconds) == 1) {
      ++given_up;
      EXPECT_GE(seconds, 100u) << line;
    }
  }
  EXPECT_EQ(given_up, 2);
}

TEST_F(Retrieval, SlowDripAndSilentServerEndByTheirDeadline) {
  platform::SetTimeScaleForTest(0.01);
  // 200,000 bytes announced, 640 a second: far above the stall limit, so
  // only the overall deadline ends it.
  centre_.SetHandler(
      [this](const httplib::Request& req, httplib::Response& res) {
        if (req.target != "/inbox/drip") {
          first_gate_.Pass();  // accepts and never answers
          return;
        }
        res.set_content_provider(
            200000, "application/vnd.wap.mms-message",
            [](size_t, size_t, httplib::DataSink& sink) {
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
              return sink.write(std::string(64, 'x').data(), 64);
            });
      });
  for (const char* name : {"drip", "silent"}) {
    ASSERT_EQ(Receive(name), 0);
    EXPECT_TRUE(client::WaitForWorkers(60000)) << name;
    EXPECT_EQ(RegDword(L"NewMMS"), 2u) << name;
    EXPECT_EQ(StoredCount(), 0u) << name;
    EXPECT_EQ(IsNetWorked, 2) << name;
  }
}

}  // namespace
}  // namespace mms::testing
