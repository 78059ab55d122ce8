// encode_bench.cc: encoding a send request of about 300 KB (a SMIL
// document, a 300 KB image and a short text) beside a memcpy of as many
// bytes, in the same run, so the ratio of the two is what to watch.
//
// The files live under a temporary device root made for the run.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mms.h"
#include "platform/device_fs.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"

namespace {

constexpr size_t kImageBytes = 300 * 1024;

const char kSmil[] =
    "<smil><head><layout><root-layout width=\"160\" height=\"140\"/>"
    "<region id=\"Image\" width=\"160\" height=\"120\" left=\"0\" top=\"0\"/>"
    "<region id=\"Text\" width=\"160\" height=\"20\" left=\"0\" top=\"120\"/>"
    "</layout></head><body><par dur=\"30000ms\">"
    "<img src=\"photo.jpg\" region=\"Image\"/>"
    "<text src=\"note.txt\" region=\"Text\"/>"
    "</par></body></smil>";

// A device root with the two files, and the message that sends them.
class Fixture {
 public:
  Fixture() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mms-bench-XXXXXX")
            .string();
    folder_ = mkdtemp(pattern.data());
    mms::platform::SetDeviceRoot(folder_ + "/device");
    std::string host;
    mms::platform::DeviceToHostPath(L"\\Temp\\photo.jpg", &host);
    std::vector<char> image(kImageBytes);
    for (size_t i = 0; i < image.size(); ++i) {
      image[i] = static_cast<char>(i * 131 + 7);
    }
    std::ofstream(host, std::ios::binary).write(image.data(), image.size());
    mms::platform::DeviceToHostPath(L"\\Temp\\note.txt", &host);
    std::ofstream(host, std::ios::binary) << "See you at eight.";

    MMS_Option option = {};
    option.bDeliveryReport = 1;
    message_ = new MMS_Custom_Data(0, &option);
    wchar_t to[] = L"13800000001";
    wchar_t subject[] = L"Photos";
    wchar_t photo[] = L"\\Temp\\photo.jpg";
    wchar_t note[] = L"\\Temp\\note.txt";
    message_->SetPhoneNumber(to);
    message_->SetSubject(subject);
    message_->AddFileNameToArray(photo);
    message_->AddFileNameToArray(note);
    auto* smil = static_cast<char*>(LocalAlloc(LPTR, sizeof(kSmil)));
    std::memcpy(smil, kSmil, sizeof(kSmil));
    message_->SetSimlContent(smil);
  }

  ~Fixture() {
    delete message_;
    mms::platform::SetDeviceRoot("");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  MMS_Custom_Data* message() { return message_; }

  // Size of the PDU the message encodes to.
  size_t PduSize() {
    CMMS mms;
    int length = 0;
    unsigned char* pdu = MmsTestAccess::MakeSendData(mms, message_, &length);
    if (pdu == nullptr) {
      return 0;
    }
    LocalFree(pdu);
    return static_cast<size_t>(length);
  }

 private:
  std::string folder_;
  MMS_Custom_Data* message_ = nullptr;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_EncodeSendRequest(benchmark::State& state) {
  Fixture& fixture = Shared();
  const size_t size = fixture.PduSize();
  if (size == 0) {
    state.SkipWithError("the message does not encode");
    return;
  }
  CMMS mms;
  for (auto _ : state) {
    int length = 0;
    unsigned char* pdu =
        MmsTestAccess::MakeSendData(mms, fixture.message(), &length);
    benchmark::DoNotOptimize(pdu);
    LocalFree(pdu);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["pdu_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_EncodeSendRequest);

// The floor: copying as many bytes as the PDU holds.
void BM_MemcpySameBytes(benchmark::State& state) {
  const size_t size = Shared().PduSize();
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
  wchar_t path[] = L"\\Temp\\photo.jpg";
  for (auto _ : state) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
