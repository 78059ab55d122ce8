// real_messages_bench.cc: the in-memory parse of messages written by other
// systems, each with its ratio to memcpy of the same bytes measured in the
// same benchmark, and a header of crafted Subjects against a control of
// the same size.
//
//   x_memcpy   parse time / memcpy time of the PDU's bytes
//   allocs     heap allocations of one parse (malloc, calloc, realloc and
//              operator new, counted by the wrappers below)
//   x_control  crafted header time / control header time
//
// The parse uses only the decoder's entry points (header record, entry
// count, one view per entry), so the file builds against earlier trees of
// the library too and the two can be run side by side.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "bench_message.h"
#include "codec/byte_reader.h"
#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/records.h"
#include "mms.h"

// Every allocation of this program goes through these wrappers, which
// count it and hand it to the C library's allocator.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {
size_t g_allocations = 0;
}  // namespace

extern "C" void* malloc(size_t size) noexcept {
  ++g_allocations;
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) noexcept {
  ++g_allocations;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) noexcept {
  ++g_allocations;
  return __libc_realloc(block, size);
}
extern "C" void free(void* block) noexcept { __libc_free(block); }

namespace {

using Bytes = std::vector<uint8_t>;

// Seconds of processor time this thread has used: the machine may be
// shared, and wall time would count the time other programs ran.
double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

const char* const kSamples[] = {
    "mms-engine/test_mms_codec/m-retrieve_10.conf",  // Korean From
    "gammu/HelloWorld.mms",
};

// Seconds one memcpy of n bytes takes, measured now.
double MemcpySeconds(size_t n) {
  Bytes from(n, 0x5a);
  Bytes to(n);
  const int rounds = 2000;
  const double start = ThreadSeconds();
  for (int i = 0; i < rounds; ++i) {
    std::memcpy(to.data(), from.data(), n);
    benchmark::ClobberMemory();
  }
  return (ThreadSeconds() - start) / rounds;
}

void BM_ParseRealMessage(benchmark::State& state) {
  const Bytes pdu = mms::bench::ReadCorpusFile(kSamples[state.range(0)]);
  if (pdu.empty()) {
    state.SkipWithError("no corpus");
    return;
  }
  state.SetLabel(kSamples[state.range(0)]);
  const double copy = MemcpySeconds(pdu.size());
  const size_t before = g_allocations;
  benchmark::DoNotOptimize(mms::bench::ParseInMemory(pdu));
  state.counters["allocs"] = static_cast<double>(g_allocations - before);
  // One clock reading around the whole loop: a reading costs as much as a
  // parse.
  const double start = ThreadSeconds();
  for (auto _ : state) {
    benchmark::DoNotOptimize(mms::bench::ParseInMemory(pdu));
  }
  const double spent = ThreadSeconds() - start;
  state.counters["x_memcpy"] = spent / state.iterations() / copy;
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * pdu.size()));
}
BENCHMARK(BM_ParseRealMessage)->Arg(0)->Arg(1);

// The first fields of a retrieve-conf, then either 96 01 EA repeated
// (crafted) or one Subject filling the same size (control), then the
// Content-Type 84 A3 and an entry count of 0.
Bytes Header(size_t size, bool crafted) {
  Bytes pdu = {0x8c, 0x84, 0x98, 'T', '1', 0x00, 0x8d, 0x90};
  const size_t room = size - pdu.size() - 3;
  if (crafted) {
    while (pdu.size() + 3 <= size - 3) {
      pdu.insert(pdu.end(), {0x96, 0x01, 0xEA});
    }
  } else {
    pdu.push_back(0x96);
    pdu.insert(pdu.end(), room - 2, 'S');
    pdu.push_back(0x00);
  }
  pdu.insert(pdu.end(), {0x84, 0xA3, 0x00});
  return pdu;
}

double HeaderSeconds(const Bytes& pdu) {
  MMS_Header header;
  std::memset(&header, 0, sizeof(header));
  static MMS_Custom_Data scratch;
  int length = 0;
  const double start = ThreadSeconds();
  benchmark::DoNotOptimize(mms::codec::DecodeMmsHeaderBounded(
      &header, pdu.data(), pdu.size(), &scratch, &length));
  const double spent = ThreadSeconds() - start;
  FreeMmsHeader(&header);
  return spent;
}

void BM_CraftedSubjects240K(benchmark::State& state) {
  const Bytes crafted = Header(240 * 1024, true);
  const Bytes control = Header(240 * 1024, false);
  double crafted_s = 0;
  double control_s = 0;
  for (auto _ : state) {
    crafted_s += HeaderSeconds(crafted);
    control_s += HeaderSeconds(control);
  }
  state.counters["crafted_s"] = crafted_s / state.iterations();
  state.counters["control_s"] = control_s / state.iterations();
  state.counters["x_control"] = crafted_s / control_s;
}
BENCHMARK(BM_CraftedSubjects240K)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
