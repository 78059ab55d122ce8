// bench_message.cc: the shared benchmark message and its device root.
#include "bench_message.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "codec/byte_reader.h"
#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/records.h"
#include "platform/device_fs.h"
#include "platform/whole_file.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"

namespace mms::bench {

namespace {

const char kSmil[] =
    "<smil><head><layout><root-layout width=\"160\" height=\"140\"/>"
    "<region id=\"Image\" width=\"160\" height=\"120\" left=\"0\" top=\"0\"/>"
    "<region id=\"Text\" width=\"160\" height=\"20\" left=\"0\" top=\"120\"/>"
    "</layout></head><body><par dur=\"30000ms\">"
    "<img src=\"photo.jpg\" region=\"Image\"/>"
    "<text src=\"note.txt\" region=\"Text\"/>"
    "</par></body></smil>";

}  // namespace

BenchMessage::BenchMessage()
    : BenchMessage(std::filesystem::temp_directory_path().string()) {}

BenchMessage::BenchMessage(const std::string& base) {
  std::string pattern = base + "/mms-bench-XXXXXX";
  folder_ = mkdtemp(pattern.data());
  Activate();
  std::string host;
  mms::platform::DeviceToHostPath(kImagePath, &host);
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

void BenchMessage::Activate() const {
  mms::platform::SetDeviceRoot(folder_ + "/device");
}

BenchMessage::~BenchMessage() {
  delete message_;
  mms::platform::SetDeviceRoot("");
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<uint8_t> BenchMessage::Encode() {
  CMMS mms;
  int length = 0;
  unsigned char* pdu = MmsTestAccess::MakeSendData(mms, message_, &length);
  if (pdu == nullptr) {
    return {};
  }
  std::vector<uint8_t> bytes(pdu, pdu + length);
  LocalFree(pdu);
  return bytes;
}

namespace codec = mms::codec;

int ParseInMemory(const std::vector<uint8_t>& pdu) {
  MMS_Header header;
  std::memset(&header, 0, sizeof(header));
  static MMS_Custom_Data scratch;
  int header_length = 0;
  int parts = -1;
  if (codec::DecodeMmsHeaderBounded(&header, pdu.data(), pdu.size(), &scratch,
                                    &header_length) == 0) {
    codec::ByteReader r(pdu.data(), pdu.size());
    uint32_t count = 0;
    if (r.Skip(static_cast<size_t>(header_length)) &&
        codec::ReadEntryCount(r, &count)) {
      codec::PartView part;
      parts = 0;
      while (static_cast<uint32_t>(parts) < count &&
             codec::DecodePart(r, &part)) {
        benchmark::DoNotOptimize(part);
        ++parts;
      }
    }
  }
  FreeMmsHeader(&header);
  return parts;
}

std::vector<uint8_t> ReadCorpusFile(const std::string& name) {
  const char* env = std::getenv("MMS_CORPUS");
  // The build names the corpus folder: a compiler cache may give __FILE__
  // as a relative path.
  const std::string dir = env != nullptr ? env : MMS_CORPUS_DIR;
  std::vector<uint8_t> bytes;
  if (!platform::ReadHostFile(dir + "/" + name, &bytes)) {
    bytes.clear();
  }
  return bytes;
}

}  // namespace mms::bench
