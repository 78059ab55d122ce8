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
// Each iteration runs the operation, then its baseline, so both meet the
// same load (the Time column counts both). Each benchmark prints op_us,
// baseline_us and ratio (op / baseline) in wall time, and cpu_ratio, the
// same in the thread's CPU time (it leaves out waits for the disk);
// argument 0 is tmpfs, 1 is disk. The save loops delete each saved file
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

// Runs the operation and its baseline alternately, timing each on its own,
// so both meet the same load on a shared machine; prints both with their
// ratios. op returns false to stop the benchmark with an error.
template <typename Op, typename Baseline>
void RunBeside(benchmark::State& state, Op op, Baseline baseline) {
  Stamp op_total{0, 0};
  Stamp base_total{0, 0};
  for (auto _ : state) {
    const Stamp start = Now();
    if (!op()) {
      state.SkipWithError("the operation failed");
      return;
    }
    const Stamp middle = Now();
    baseline();
    const Stamp end = Now();
    op_total.wall += middle.wall - start.wall;
    op_total.cpu += middle.cpu - start.cpu;
    base_total.wall += end.wall - middle.wall;
    base_total.cpu += end.cpu - middle.cpu;
  }
  const auto runs = static_cast<double>(state.iterations());
  state.counters["op_us"] = op_total.wall / runs;
  state.counters["baseline_us"] = base_total.wall / runs;
  state.counters["ratio"] = op_total.wall / base_total.wall;
  state.counters["cpu_ratio"] = op_total.cpu / base_total.cpu;
}

void BM_MmsOpen300KB(benchmark::State& state) {
  const SavedMessage saved = Save(state.range(0));
  const std::string message_host = Host(saved.path);
  std::wstring path = saved.path;
  Bytes buffer(saved.pdu.size());
  Bytes smil;
  RunBeside(
      state,
      [&] {
        MMS_Custom_Data message;
        return CMMS::MMS_Open(path.data(), &message) == 0;
      },
      [&] {
        PlainRead(message_host, &buffer);
        for (const auto& [host, bytes] : saved.parts) {
          PlainWritePart(host, bytes);
        }
        PlainRead(saved.smil, &smil);
      });
}

bool ComposeAndSave(wchar_t* saved) {
  auto* message = new MMS_Custom_Data();
  wchar_t to[] = L"13800000001";
  wchar_t subject[] = L"Photos";
  wchar_t image[] = L"\\Temp\\photo.jpg";
  wchar_t text[] = L"See you at eight.";
  message->SetPhoneNumber(to);
  message->SetSubject(subject);
  message->AddPartFileName(0, image);
  message->AddPartTxt(0, text, 0);
  if (CMMS::MMS_Save(message, saved, nullptr) != 0) {
    delete message;
    return false;
  }
  return true;
}

void BM_ComposeAndSave(benchmark::State& state) {
  Message(state.range(0));
  const std::string photo = Host(mms::bench::kImagePath);
  const std::string out = Base(state.range(0)) + "/mms-bench-plain.mms";
  wchar_t first[MAX_PATH] = {};
  if (!ComposeAndSave(first)) {
    state.SkipWithError("MMS_Save failed");
    return;
  }
  const Bytes file(ReadWhole(Host(first)).size(), 'x');  // the saved size
  DeleteFileW(first);
  Bytes media;
  RunBeside(
      state,
      [&] {
        wchar_t saved[MAX_PATH] = {};
        return ComposeAndSave(saved) && DeleteFileW(saved) != 0;
      },
      [&] {
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
  Bytes copy(pdu.size());
  Bytes media;
  Bytes text;
  RunBeside(
      state,
      [&] {
        int length = 0;
        unsigned char* bytes =
            MmsTestAccess::MakeSendData(mms, shared.message(), &length);
        benchmark::DoNotOptimize(bytes);
        LocalFree(bytes);
        return bytes != nullptr;
      },
      [&] {
        std::memcpy(copy.data(), pdu.data(), pdu.size());
        benchmark::ClobberMemory();
        PlainRead(photo, &media);
        PlainRead(note, &text);
      });
}

void BM_DeCodeWithPartFiles(benchmark::State& state) {
  SavedMessage saved = Save(state.range(0));
  RunBeside(
      state,
      [&] {
        CMMS mms;
        MMS_Custom_Data message;
        return mms.MMS_DeCode(saved.pdu.data(), &message) == 0;
      },
      [&] {
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
