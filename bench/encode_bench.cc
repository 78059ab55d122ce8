// encode_bench.cc: encoding a send request of about 300 KB (a SMIL
// document, a 300 KB image and a short text) beside a memcpy of as many
// bytes, in the same run, so the ratio of the two is what to watch.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench_message.h"
#include "mms.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"

namespace {

mms::bench::BenchMessage& Shared() {
  static mms::bench::BenchMessage message;
  return message;
}

size_t PduSize() { return Shared().Encode().size(); }

void BM_EncodeSendRequest(benchmark::State& state) {
  const size_t size = PduSize();
  if (size == 0) {
    state.SkipWithError("the message does not encode");
    return;
  }
  CMMS mms;
  for (auto _ : state) {
    int length = 0;
    unsigned char* pdu =
        MmsTestAccess::MakeSendData(mms, Shared().message(), &length);
    benchmark::DoNotOptimize(pdu);
    LocalFree(pdu);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["pdu_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_EncodeSendRequest);

// The floor: copying as many bytes as the PDU holds.
void BM_MemcpySameBytes(benchmark::State& state) {
  const size_t size = PduSize();
  std::vector<char> from(size, 'x');
  std::vector<char> to(size);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["pdu_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_MemcpySameBytes);

// The other floor: opening the image and reading it whole into a fresh
// block, which any encoder of this message must do.
void BM_ReadImageFile(benchmark::State& state) {
  Shared();
  const size_t kImageBytes = mms::bench::kImageBytes;
  for (auto _ : state) {
    HANDLE file =
        CreateFileW(mms::bench::kImagePath, GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    auto* data = static_cast<char*>(LocalAlloc(LMEM_FIXED, kImageBytes));
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE || data == nullptr ||
        !ReadFile(file, data, kImageBytes, &read, nullptr) ||
        read != kImageBytes) {
      state.SkipWithError("cannot read the image");
    }
    benchmark::DoNotOptimize(data);
    LocalFree(data);
    CloseHandle(file);
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_ReadImageFile);

}  // namespace

BENCHMARK_MAIN();
