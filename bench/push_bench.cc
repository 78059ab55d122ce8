// push_bench.cc: the push path under a burst. The push router runs in this
// process on loopback, the library listens (CMMS::Start), and 1,000
// m-notification-ind pushes are sent as UDP datagrams at once, each with
// its own transaction ID and Content-Location. Prints pushes per second
// (until every transaction ID has reached HandMessage, or nothing more
// arrives for 10 s), how many were handled (from the write sequence of
// "WapState": each notification's group takes four values), how many
// distinct transaction IDs reached HandMessage, the fsync time of the same
// disk measured in the same run, and the goal 0.5 / (2 x fsync).
// The device root lies on disk: $MMS_BENCH_DISK, else /var/tmp.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mms.h"
#include "platform/device_fs.h"
#include "platform/registry.h"
#include "platform/winapi.h"
#include "push/test_seams.h"
#include "pushrouter/push_datagram.h"
#include "pushrouter/push_router_service.h"
#include "pushrouter/push_store.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBurst = 1000;
constexpr int kValuesPerNotification = 4;  // WapPhone, WapUrl, type, state

std::string Disk() {
  const char* disk = std::getenv("MMS_BENCH_DISK");
  return disk != nullptr && disk[0] != '\0' ? disk : "/var/tmp";
}

// Mean time of write(4 KB) + fsync on a file in folder, in microseconds.
double FsyncMicros(const std::string& folder) {
  const std::string path = folder + "/fsync-probe";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    return 0;
  }
  std::vector<char> block(4096, 'f');
  constexpr int kRounds = 50;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    if (pwrite(fd, block.data(), block.size(), 0) < 0 || fsync(fd) != 0) {
      break;
    }
  }
  const double us =
      std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
      kRounds;
  close(fd);
  unlink(path.c_str());
  return us;
}

std::vector<uint8_t> Datagram(int i) {
  // TID, Push, headers 1, MMS type; then the notification.
  std::vector<uint8_t> d = {0x01, 0x06, 0x01, 0xbe, 0x8c, 0x82, 0x98};
  const std::string tid = "T" + std::to_string(i);
  d.insert(d.end(), tid.begin(), tid.end());
  d.insert(d.end(), {0x00, 0x8d, 0x90, 0x83});
  const std::string url = "http://127.0.0.1:9/n" + std::to_string(i);
  d.insert(d.end(), url.begin(), url.end());
  d.push_back(0);
  return d;
}

// Transaction IDs HandMessage decoded.
std::mutex g_handed_mu;
std::set<std::string> g_handed;

void NoteHanded(const char* transaction_id) {
  std::lock_guard<std::mutex> lock(g_handed_mu);
  g_handed.insert(transaction_id);
}

size_t Handed() {
  std::lock_guard<std::mutex> lock(g_handed_mu);
  return g_handed.size();
}

// Write sequence of "WapState" (0 when missing) and the current "WapUrl".
void ReadState(int64_t* seq, std::wstring* url) {
  std::vector<mms::platform::StoredValue> values;
  *seq = 0;
  url->clear();
  if (!mms::platform::ListStoredValues(L"software\\varnholt\\MMS", &values)) {
    return;
  }
  for (const auto& v : values) {
    if (wcscasecmp(v.name.c_str(), L"WapState") == 0) {
      *seq = v.seq;
    } else if (wcscasecmp(v.name.c_str(), L"WapUrl") == 0) {
      for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
        *url += static_cast<wchar_t>(v.data[i] | v.data[i + 1] << 8);
      }
    }
  }
}

void BM_PushBurst(benchmark::State& state) {
  std::string pattern = Disk() + "/mms-push-bench-XXXXXX";
  const std::string folder = mkdtemp(pattern.data());
  mms::platform::SetDeviceRoot(folder + "/device");
  mms::platform::DeviceRoot();
  const double fsync_us = FsyncMicros(folder);

  mms::pushrouter::RouterOptions options;
  options.port = 0;
  std::atomic<bool> stop{false};
  std::thread router([&] { mms::pushrouter::RunPushRouter(options, stop); });
  int port = 0;
  for (int i = 0; i < 500 && port == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mms::pushrouter::PushStore store;
    mms::pushrouter::RouterRow row;
    bool live = false;
    if (store.Open(mms::pushrouter::PushStorePath()) &&
        store.Router(&row, &live) && live) {
      port = row.port;
    }
  }
  mms::push::test::ObserveHandedPushes(NoteHanded);
  bool held = false;
  if (port != 0 && CMMS::Start() == 0) {
    for (int i = 0; i < 500 && !held; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      mms::pushrouter::PushStore store;
      int holder = 0;
      held = store.Open(mms::pushrouter::PushStorePath()) &&
             store.LiveHolderPort(mms::pushrouter::kMmsMessageType, &holder) &&
             holder > 0;
    }
  }
  if (!held) {
    state.SkipWithError("the router or the listener did not start");
  }
  for (auto _ : state) {
    if (!held) {
      break;
    }
    int64_t seq_before = 0;
    std::wstring url;
    ReadState(&seq_before, &url);
    {
      std::lock_guard<std::mutex> lock(g_handed_mu);
      g_handed.clear();
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kBurst; ++i) {
      const std::vector<uint8_t> d = Datagram(i);
      sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
    }
    close(fd);
    // Until every ID has reached HandMessage, or nothing more arrives for
    // 10 s; checked every 20 ms, so that the reading costs the listener
    // little.
    size_t seen = 0;
    Clock::time_point progress = Clock::now();
    Clock::time_point end = progress;
    while (seen < static_cast<size_t>(kBurst) &&
           Clock::now() - progress < std::chrono::seconds(10)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const size_t now_seen = Handed();
      if (now_seen != seen) {
        seen = now_seen;
        progress = end = Clock::now();
      }
    }
    int64_t seq = seq_before;
    ReadState(&seq, &url);
    const double seconds = std::chrono::duration<double>(end - start).count();
    const double handled =
        static_cast<double>(seq - seq_before) / kValuesPerNotification;
    state.counters["handled"] = handled;
    state.counters["distinct_ids"] = static_cast<double>(seen);
    state.counters["pushes_per_s"] =
        seconds > 0 ? static_cast<double>(seen) / seconds : 0;
    state.counters["fsync_us"] = fsync_us;
    state.counters["goal_per_s"] = 0.5 / (2 * fsync_us / 1e6);
  }
  CMMS::Stop();
  mms::push::test::ObserveHandedPushes(nullptr);
  stop = true;
  router.join();
  mms::platform::SetDeviceRoot("");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_PushBurst)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
