// wsp_reader_fuzzer.cc: any bytes through every reader of the WSP value
// forms, one after another as the first byte picks, checking that a read
// stays inside its input and that a refused read leaves the cursor put.
#include <cstdint>
#include <string>

#include "codec/text_decode.h"
#include "codec/wsp_reader.h"

namespace {

using mms::codec::ByteReader;

void Check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

void CheckInside(const ByteReader& part, const uint8_t* data, size_t size) {
  Check(part.remaining() == 0 ||
        (part.current() >= data &&
         part.current() + part.remaining() <= data + size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace codec = mms::codec;
  ByteReader r(data, size);
  uint8_t pick = 0;
  while (r.ReadByte(&pick)) {
    const size_t before = r.position();
    bool ok = false;
    ByteReader text;
    switch (pick % 8) {
      case 0: {
        codec::ContentTypeValue type;
        ok = codec::ReadContentType(r, &type);
        if (ok) {
          CheckInside(type.text, data, size);
          CheckInside(type.name, data, size);
          CheckInside(type.start, data, size);
          (void)codec::MediaTypeText(type);
        }
        break;
      }
      case 1: {
        codec::EncodedString s;
        ok = codec::ReadEncodedString(r, &s);
        if (ok) {
          CheckInside(s.text, data, size);
          (void)codec::TextToUtf8(s.charset, s.text);
          (void)codec::TextToAnsi(s.charset, s.text);
        }
        break;
      }
      case 2:
        ok = codec::ReadTextString(r, &text);
        break;
      case 3: {
        uint64_t n = 0;
        ok = codec::ReadIntegerValue(r, &n);
        break;
      }
      case 4: {
        uint32_t code = 0;
        ok = codec::ReadHeaderName(r, &code, &text);
        break;
      }
      case 5:
        ok = codec::SplitLengthPrefixed(r, &text);
        break;
      case 6: {
        codec::EncodedString s;
        ok = codec::ReadTextRule(r, &s);
        break;
      }
      default:
        ok = codec::SplitWspValue(r, &text);
    }
    CheckInside(text, data, size);
    if (!ok) {
      Check(r.position() == before);
      if (!r.Skip(1)) {
        break;
      }
    }
  }
  return 0;
}
