// header_decoder_fuzzer.cc: any bytes as the header block of a PDU, through
// the bounded header decoder.
#include <cstdint>
#include <cstring>

#include "codec/decode/decoder.h"
#include "codec/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MMS_Header header;
  std::memset(&header, 0, sizeof(header));
  MMS_Custom_Data message;
  int header_length = -1;
  const int result = mms::codec::DecodeMmsHeaderBounded(
      &header, data, size, &message, &header_length);
  if (result == 0 &&
      (header_length < 0 || static_cast<size_t>(header_length) > size)) {
    __builtin_trap();  // the body would start outside the PDU
  }
  if (message.m_szCcName[259] != '\0') {
    __builtin_trap();
  }
  FreeMmsHeader(&header);
  return 0;
}
