// body_parse_fuzzer.cc: any bytes as a whole PDU, parsed in memory (header
// record, part views and the names their files would get) without writing
// files, so many more inputs run than through the whole decode.
#include <cstdint>
#include <cstring>
#include <string>

#include "codec/byte_reader.h"
#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/decode/part_name.h"
#include "codec/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MMS_Header header;
  std::memset(&header, 0, sizeof(header));
  MMS_Custom_Data message;
  int header_length = 0;
  const int result = mms::codec::DecodeMmsHeaderBounded(
      &header, data, size, &message, &header_length);
  FreeMmsHeader(&header);
  if (result != 0) {
    return 0;
  }
  mms::codec::ByteReader r(data, size);
  uint32_t count = 0;
  if (!r.Skip(static_cast<size_t>(header_length)) ||
      !mms::codec::ReadEntryCount(r, &count)) {
    return 0;
  }
  mms::codec::PartView part;
  for (uint32_t i = 0; i < count && i < mms::codec::kMaxEntries &&
                       mms::codec::DecodePart(r, &part);
       ++i) {
    const std::wstring name =
        mms::codec::PartFileName(part, static_cast<int>(i));
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"\\/:") != std::wstring::npos ||
        name.size() > mms::codec::kMaxPartNameBytes) {
      __builtin_trap();  // a name that leaves the folder or its path entry
    }
  }
  return 0;
}
