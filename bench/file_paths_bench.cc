// file_paths_bench.cc: the calls that touch files, each beside the plain
// system calls that move the same bytes, timed in the same run, on tmpfs
// (/dev/shm) and on disk ($MMS_BENCH_DISK, else /var/tmp):
//   MMS_Open of the saved 300 KB message  vs  read() of the message file,
//     each part file written as the decoder writes it (a temporary name,
//     then rename), read() of the SMIL file;
//   compose + MMS_Save                    vs  read() of the media, write()
//     of a new file of the saved size;
//   encoding the send request             vs  memcpy of the PDU and read()
//     of its files;
//   MMS_DeCode with part files            vs  the same part-file writes.
// Each benchmark prints op_us, baseline_us and ratio (op / baseline) in
// wall time, and cpu_ratio, the same in the thread's CPU time (steadier on
// a loaded machine; it leaves out waits for the disk); argument 0 is
// tmpfs, 1 is disk. The save loops delete each saved file
// (the baseline unlinks its file too) so the disk does not fill.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_message.h"
#include "mms.h"
#include "platform/device_fs.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

std::string Base(int64_t storage) {
  if (storage == 0) {
    return "/dev/shm";
  }
  const char* disk = std::getenv("MMS_BENCH_DISK");
  return disk != nullptr && disk[0] != '\0' ? disk : "/var/tmp";
}

std::string Host(const std::wstring& device) {
  std::string host;
  mms::platform::DeviceToHostPath(device, &host);
  return host;
}

Bytes ReadWhole(const std::string& host) {
  Bytes bytes;
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0) {
    bytes.resize(static_cast<size_t>(st.st_size));
    if (read(fd, bytes.data(), bytes.size()) !=
        static_cast<ssize_t>(bytes.size())) {
      bytes.clear();
    }
  }
  if (fd >= 0) {
    close(fd);
  }
  return bytes;
}

// read() of a whole file into buffer (sized once by the caller).
void PlainRead(const std::string& host, Bytes* buffer) {
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    std::abort();
  }
  if (buffer->size() < static_cast<size_t>(st.st_size)) {
    buffer->resize(static_cast<size_t>(st.st_size));
  }
  if (read(fd, buffer->data(), st.st_size) != st.st_size) {
    std::abort();
  }
  close(fd);
}

void PlainWrite(const std::string& host, const Bytes& bytes, int flags) {
  int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
  if (fd < 0 || write(fd, bytes.data(), bytes.size()) !=
                    static_cast<ssize_t>(bytes.size())) {
    std::abort();
  }
  close(fd);
}

// A part file as the decoder writes it: whole under a temporary name, then
// renamed over the part's name, so a failed write never leaves a cut part.
void PlainWritePart(const std::string& host, const Bytes& bytes) {
  const std::string temporary = host + ".part";
  PlainWrite(temporary, bytes, O_TRUNC);
  if (rename(temporary.c_str(), host.c_str()) != 0) {
    std::abort();
  }
}

// One benchmark message per file system, made on first use.
mms::bench::BenchMessage& Message(int64_t storage) {
  static std::map<int64_t, std::unique_ptr<mms::bench::BenchMessage>> made;
  auto& slot = made[storage];
  if (slot == nullptr) {
    slot = std::make_unique<mms::bench::BenchMessage>(Base(storage));
  }
  slot->Activate();
  return *slot;
}

// The PDU stored as a message file, and the part files opening it writes
// (host path and bytes), learnt from one MMS_Open.
struct SavedMessage {
  Bytes pdu;
  std::wstring path = L"\\Windows\\Messaging\\bench.mms";
  std::vector<std::pair<std::string, Bytes>> parts;
  std::string smil;  // host path of the presentation
};

SavedMessage Save(int64_t storage) {
  SavedMessage saved;
  saved.pdu = Message(storage).Encode();
  PlainWrite(Host(saved.path), saved.pdu, O_TRUNC);
  MMS_Custom_Data opened;
  if (CMMS::MMS_Open(saved.path.data(), &opened) != 0) {
    std::abort();
  }
  for (int i = 0; i < opened.m_nFileNum; ++i) {
    wchar_t name[MAX_PATH] = {};
    if (opened.GetFileName(i, name) == 1) {
      std::string host = Host(name);
      if (host.find(".smil") != std::string::npos) {
        saved.smil = host;
      }
      saved.parts.emplace_back(host, ReadWhole(host));
    }
  }
  return saved;
}

// Wall and thread CPU time at one moment, in microseconds.
struct Stamp {
  double wall;
  double cpu;
};

Stamp Now() {
  timespec cpu;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  return Stamp{
      std::chrono::duration<double, std::micro>(Clock::now().time_since_epoch())
          .count(),
      cpu.tv_sec * 1e6 + cpu.tv_nsec / 1e3};
}

// Times the baseline for as many runs as the operation made (at least 20)
// and prints both with their ratios.
template <typename Baseline>
void Report(benchmark::State& state, Stamp op_start, Baseline baseline) {
  const Stamp op_end = Now();
  const auto op_runs = static_cast<double>(state.iterations());
  const int64_t runs = state.iterations() < 20 ? 20 : state.iterations();
  const Stamp start = Now();
  for (int64_t i = 0; i < runs; ++i) {
    baseline();
  }
  const Stamp end = Now();
  const double op_us = (op_end.wall - op_start.wall) / op_runs;
  const double op_cpu = (op_end.cpu - op_start.cpu) / op_runs;
  const double base_us = (end.wall - start.wall) / static_cast<double>(runs);
  const double base_cpu = (end.cpu - start.cpu) / static_cast<double>(runs);
  state.counters["op_us"] = op_us;
  state.counters["baseline_us"] = base_us;
  state.counters["ratio"] = op_us / base_us;
  state.counters["cpu_ratio"] = op_cpu / base_cpu;
}

void BM_MmsOpen300KB(benchmark::State& state) {
  const SavedMessage saved = Save(state.range(0));
  const std::string message_host = Host(saved.path);
  std::wstring path = saved.path;
  const Stamp start = Now();
  for (auto _ : state) {
    MMS_Custom_Data message;
    benchmark::DoNotOptimize(CMMS::MMS_Open(path.data(), &message));
  }
  Bytes buffer(saved.pdu.size());
  Bytes smil;
  Report(state, start, [&] {
    PlainRead(message_host, &buffer);
    for (const auto& [host, bytes] : saved.parts) {
      PlainWritePart(host, bytes);
    }
    PlainRead(saved.smil, &smil);
  });
}

void BM_ComposeAndSave(benchmark::State& state) {
  Message(state.range(0));
  const std::string photo = Host(mms::bench::kImagePath);
  size_t saved_bytes = 0;
  const Stamp start = Now();
  for (auto _ : state) {
    auto* message = new MMS_Custom_Data();
    wchar_t to[] = L"13800000001";
    wchar_t subject[] = L"Photos";
    wchar_t image[] = L"\\Temp\\photo.jpg";
    wchar_t text[] = L"See you at eight.";
    message->SetPhoneNumber(to);
    message->SetSubject(subject);
    message->AddPartFileName(0, image);
    message->AddPartTxt(0, text, 0);
    wchar_t saved[MAX_PATH] = {};
    if (CMMS::MMS_Save(message, saved, nullptr) != 0) {
      state.SkipWithError("MMS_Save failed");
      delete message;
      break;
    }
    if (saved_bytes == 0) {
      saved_bytes = ReadWhole(Host(saved)).size();
    }
    DeleteFileW(saved);
  }
  Bytes media;
  const Bytes file(saved_bytes, 'x');
  const std::string out = Base(state.range(0)) + "/mms-bench-plain.mms";
  Report(state, start, [&] {
    PlainRead(photo, &media);
    PlainWrite(out, file, O_EXCL);
    unlink(out.c_str());
  });
}

void BM_EncodeSendRequest(benchmark::State& state) {
  mms::bench::BenchMessage& shared = Message(state.range(0));
  const Bytes pdu = shared.Encode();
  const std::string photo = Host(mms::bench::kImagePath);
  const std::string note = Host(L"\\Temp\\note.txt");
  CMMS mms;
  const Stamp start = Now();
  for (auto _ : state) {
    int length = 0;
    unsigned char* bytes =
        MmsTestAccess::MakeSendData(mms, shared.message(), &length);
    benchmark::DoNotOptimize(bytes);
    LocalFree(bytes);
  }
  Bytes copy(pdu.size());
  Bytes media;
  Bytes text;
  Report(state, start, [&] {
    std::memcpy(copy.data(), pdu.data(), pdu.size());
    benchmark::ClobberMemory();
    PlainRead(photo, &media);
    PlainRead(note, &text);
  });
}

void BM_DeCodeWithPartFiles(benchmark::State& state) {
  SavedMessage saved = Save(state.range(0));
  const Stamp start = Now();
  for (auto _ : state) {
    CMMS mms;
    MMS_Custom_Data message;
    benchmark::DoNotOptimize(mms.MMS_DeCode(saved.pdu.data(), &message));
  }
  Report(state, start, [&] {
    for (const auto& [host, bytes] : saved.parts) {
      PlainWritePart(host, bytes);
    }
  });
}

#define MMS_STORAGES ->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_MmsOpen300KB) MMS_STORAGES;
BENCHMARK(BM_ComposeAndSave) MMS_STORAGES;
BENCHMARK(BM_EncodeSendRequest) MMS_STORAGES;
BENCHMARK(BM_DeCodeWithPartFiles) MMS_STORAGES;

}  // namespace

BENCHMARK_MAIN();
