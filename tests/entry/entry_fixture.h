// entry_fixture.h: what the entry point tests share: a real proxy
// (tinyproxy) in front of a recording loopback MMS centre, the test time
// scale, recorded prompts, registry readers, and a tear-down that stops
// every worker and puts the shared state back.
#ifndef MMS_TESTS_ENTRY_ENTRY_FIXTURE_H_
#define MMS_TESTS_ENTRY_ENTRY_FIXTURE_H_

#include <dirent.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/threads.h"
#include "diag/log.h"
#include "platform/prompt.h"
#include "platform/thread.h"
#include "pushrouter/push_router.h"
#include "support/http_recorder.h"
#include "support/loopback.h"
#include "support/test_support.h"
#include "transport/connection.h"

namespace mms::testing {

// Sleeps and timed waits of the library last this much of their nominal
// time: the 100 one-second steps of a waiting retrieval take 0.2 s, well
// inside the HTTP client's stall limit (never under one second).
constexpr double kEntryTimeScale = 0.002;

// A door the centre's handler waits at until the test opens it.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      open_ = true;
    }
    cv_.notify_all();
  }
  // False when still shut after timeout_ms.
  bool Pass(int timeout_ms = 20000) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [this] { return open_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool open_ = false;
};

struct Prompt {
  std::wstring text;
  std::wstring caption;
  UINT type;
};

inline std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Entries of a folder, "." and ".." included (0 when it cannot be read).
inline size_t CountEntries(const char* folder) {
  size_t count = 0;
  if (DIR* dir = opendir(folder)) {
    while (readdir(dir) != nullptr) {
      ++count;
    }
    closedir(dir);
  }
  return count;
}

class EntryTest : public DeviceTest {
 protected:
  void SetUp() override {
    if (!proxy_.running()) {
      GTEST_SKIP() << "tinyproxy is not installed";
    }
    setenv("MMS_WAP_PROXY", proxy_.address().c_str(), 1);
    setenv("MMS_MMSC_HOST", centre_.host().c_str(), 1);
    platform::SetTimeScaleForTest(kEntryTimeScale);
    platform::SetPromptHandler([this](const std::wstring& text,
                                      const std::wstring& caption, UINT type) {
      std::lock_guard<std::mutex> lock(prompts_mu_);
      prompts_.push_back({text, caption, type});
      return IDOK;
    });
  }

  void TearDown() override {
    first_gate_.Open();
    second_gate_.Open();
    CMMS::Stop();
    CMMS::MMS_StopSend();
    EXPECT_TRUE(client::WaitForWorkers(30000)) << "a worker still runs";
    if (pWebConnect != nullptr) {
      CloseMMSConnection(&pWebConnect);
    }
    {
      std::lock_guard<std::mutex> lock(client::StateMutex());
      while (g_pRecvQueue != nullptr) {
        client::PopRecvQueueLocked();
      }
      IsNetWorked = client::kNetIdle;
    }
    pushrouter::SetPushRouterCalls(nullptr);
    platform::SetPromptHandler({});
    diag::CloseLog();
    unsetenv("MMS_WAP_PROXY");
    unsetenv("MMS_MMSC_HOST");
    DeviceTest::TearDown();
  }

  // The centre serves a small m-retrieve-conf with the one-character
  // transaction ID `id` on every GET and confirms every POST.
  void ServeMessageAndConfirm(char id) {
    centre_.SetHandler([id](const httplib::Request& req,
                            httplib::Response& res) {
      const std::string tid(1, id);
      const std::string pdu =
          req.method == "GET"
              ? Text(Hex("8c 84 98")) + tid + Text(Hex("31 00 8d 90 84 a3 00"))
              : Text(Hex("8c 81 98")) + tid + Text(Hex("31 00 8d 90 92 80"));
      res.set_content(pdu, "application/vnd.wap.mms-message");
    });
  }

  // Waits for every worker the test started; the library's own time
  // scale does not apply to this real-time bound.
  void WaitForWorkers() {
    ASSERT_TRUE(client::WaitForWorkers(30000)) << "a worker still runs";
  }

  // Polls until pred holds, at most timeout_ms; returns pred's last value.
  template <class Pred>
  static bool WaitUntil(Pred pred, int timeout_ms = 20000) {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) {
        return pred();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  size_t RequestCount() { return centre_.requests().size(); }

  size_t StoredCount() {
    return CountEntries(Host(L"\\Windows\\Messaging").c_str()) - 2;
  }

  std::vector<Prompt> Prompts() {
    std::lock_guard<std::mutex> lock(prompts_mu_);
    return prompts_;
  }

  // Lines of the diagnostic log, without their timestamps.
  std::vector<std::string> LogLines() {
    diag::CloseLog();
    std::vector<std::string> lines;
    for (const auto& entry :
         std::filesystem::directory_iterator(Host(L"\\KestLogDir"))) {
      std::istringstream text(Text(ReadHostFile(entry.path().string())));
      for (std::string line; std::getline(text, line);) {
        line.erase(line.find_last_not_of('\r') + 1);
        const size_t mark = line.find(" : ");
        lines.push_back(mark == std::string::npos ? line
                                                  : line.substr(mark + 3));
      }
    }
    return lines;
  }

  TinyProxy proxy_;
  HttpRecorder centre_;
  // Opened by TearDown at the latest, so no handler waits past the test.
  Gate first_gate_;
  Gate second_gate_;
  std::mutex prompts_mu_;
  std::vector<Prompt> prompts_;  // guarded by prompts_mu_
};

// A message to one number with one text slide.
inline MMS_Custom_Data* NewTextMessage(const std::wstring& text) {
  auto* message = new MMS_Custom_Data();
  message->SetPhoneNumber(WBuf(L"13800138000"));
  message->SetSubject(WBuf(L"hello"));
  message->AddPartTxt(0, WBuf(text), 0);
  return message;
}

}  // namespace mms::testing

#endif  // MMS_TESTS_ENTRY_ENTRY_FIXTURE_H_
