// utf8_fuzzer.cc: any bytes through Utf8ToWide, with an output buffer of
// exactly the capacity given, so a write past it is caught.
#include <cstdint>
#include <vector>

#include "mms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const int capacity = data[0];  // 0..255 units
  std::vector<char> text(data + 1, data + size);
  text.push_back('\0');
  std::vector<wchar_t> out(static_cast<size_t>(capacity));
  (void)Utf8ToWide(text.data(), capacity > 0 ? out.data() : nullptr, capacity);
  return 0;
}
