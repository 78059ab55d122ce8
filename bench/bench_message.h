// bench_message.h: the message the benchmarks measure: a SMIL document, a
// 300 KB image and a short text, composed under a temporary device root
// that lives as long as the object (under the system's temporary folder, or
// under a folder given, to measure one file system or another).
#ifndef MMS_BENCH_BENCH_MESSAGE_H_
#define MMS_BENCH_BENCH_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mms.h"

namespace mms::bench {

constexpr size_t kImageBytes = 300 * 1024;
constexpr wchar_t kImagePath[] = L"\\Temp\\photo.jpg";

// The bytes of a file of the shared sample corpus (MMS_CORPUS, or the
// shared folder beside the repository); empty when it cannot be read.
std::vector<uint8_t> ReadCorpusFile(const std::string& name);

class BenchMessage {
 public:
  BenchMessage();
  explicit BenchMessage(const std::string& base);
  ~BenchMessage();
  BenchMessage(const BenchMessage&) = delete;
  BenchMessage& operator=(const BenchMessage&) = delete;

  MMS_Custom_Data* message() { return message_; }
  // Points the device file system at this message's root again.
  void Activate() const;
  // The m-send-req the message encodes to (empty when it does not).
  std::vector<uint8_t> Encode();

 private:
  std::string folder_;
  MMS_Custom_Data* message_ = nullptr;
};

// The in-memory parse: the header record and one view per entry; part
// data is neither copied nor written. The number of entries, or -1.
int ParseInMemory(const std::vector<uint8_t>& pdu);

}  // namespace mms::bench

#endif  // MMS_BENCH_BENCH_MESSAGE_H_
