// decode_bench.cc: decoding the 300 KB message of the encoding benchmark (a
// SMIL document, a 300 KB image, a short text) and a few small sample
// messages: in memory (header record and part views, no file writes), as a
// whole decode with its part files, through MMS_Open, and a memcpy of the
// same bytes in the same run as the floor.
//
// Samples are read from the shared corpus when it is there; benchmarks
// whose input is missing are skipped.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_message.h"
#include "codec/byte_reader.h"
#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/records.h"
#include "mms.h"
#include "platform/device_fs.h"
#include "platform/winapi.h"
#include "store/decode_message.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The 300 KB PDU made by the encoder, on the benchmark message's device
// root, where message files are stored too.
class Fixture {
 public:
  Fixture() : large_(message_.Encode()) { CreateDeCodeFolder(); }

  const Bytes& large() const { return large_; }

  // Stores bytes as a message file and gives its device path.
  std::wstring Store(const Bytes& bytes, const std::wstring& name) {
    const std::wstring path = L"\\Windows\\Messaging\\" + name;
    std::string host;
    mms::platform::DeviceToHostPath(path, &host);
    std::ofstream(host, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }

 private:
  mms::bench::BenchMessage message_;
  Bytes large_;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// Small samples (under 1 KB) by argument index.
const char* const kSmallSamples[] = {
    "mmsd/rc-mms-1-3-con-212.mms",                  // 198 bytes
    "mms-engine/test_mms_codec/m-retrieve_4.conf",  // 274 bytes
    "python-messaging/openwave.mms",                // 542 bytes
};

Bytes Input(int64_t which) {
  if (which < 0) {
    return Shared().large();
  }
  return mms::bench::ReadCorpusFile(kSmallSamples[which]);
}

void SetCounters(benchmark::State& state, size_t size) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["pdu_bytes"] = static_cast<double>(size);
}

void BM_ParseInMemory(benchmark::State& state) {
  const Bytes pdu = Input(state.range(0));
  if (pdu.empty() || mms::bench::ParseInMemory(pdu) <= 0) {
    state.SkipWithError("no input");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(mms::bench::ParseInMemory(pdu));
  }
  SetCounters(state, pdu.size());
}

void BM_MemcpySameBytes(benchmark::State& state) {
  const Bytes pdu = Input(state.range(0));
  if (pdu.empty()) {
    state.SkipWithError("no input");
    return;
  }
  Bytes to(pdu.size());
  for (auto _ : state) {
    std::memcpy(to.data(), pdu.data(), pdu.size());
    benchmark::ClobberMemory();
  }
  SetCounters(state, pdu.size());
}

// Whole decode with its part files written.
void BM_DecodeWithPartFiles(benchmark::State& state) {
  const Bytes pdu = Input(state.range(0));
  if (pdu.empty()) {
    state.SkipWithError("no input");
    return;
  }
  for (auto _ : state) {
    MMS_Custom_Data message;
    benchmark::DoNotOptimize(
        mms::store::DecodeMessage(pdu.data(), pdu.size(), &message));
  }
  SetCounters(state, pdu.size());
}

// MMS_Open: read the file, decode with part files, parse the SMIL.
void BM_MmsOpen(benchmark::State& state) {
  const Bytes pdu = Input(state.range(0));
  if (pdu.empty()) {
    state.SkipWithError("no input");
    return;
  }
  std::wstring path = Shared().Store(pdu, L"bench.mms");
  for (auto _ : state) {
    MMS_Custom_Data message;
    benchmark::DoNotOptimize(CMMS::MMS_Open(path.data(), &message));
  }
  SetCounters(state, pdu.size());
}

// Argument -1 is the 300 KB message; 0 to 2 the small samples.
#define MMS_DECODE_INPUTS ->Arg(-1)->Arg(0)->Arg(1)->Arg(2)
BENCHMARK(BM_ParseInMemory) MMS_DECODE_INPUTS;
BENCHMARK(BM_MemcpySameBytes) MMS_DECODE_INPUTS;
BENCHMARK(BM_DecodeWithPartFiles) MMS_DECODE_INPUTS;
BENCHMARK(BM_MmsOpen) MMS_DECODE_INPUTS;

}  // namespace

BENCHMARK_MAIN();
