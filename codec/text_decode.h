// text_decode.h: texts read from a PDU into the library's two encodings.
//
// Subjects become UTF-8, addresses the system code page. A text with a
// charset is converted from it; a text without one is UTF-8 when it is
// valid UTF-8, else Latin-1. A character the system code page cannot hold
// becomes "?". Plain ASCII is copied as it is.
#ifndef MMS_CODEC_TEXT_DECODE_H_
#define MMS_CODEC_TEXT_DECODE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/byte_reader.h"
#include "codec/wsp_reader.h"

namespace mms::codec {

// True when bytes[0..n) are well-formed UTF-8.
bool IsUtf8(const uint8_t* bytes, size_t n);

// text in charset (MIBenum; 0 for none) as UTF-8, a leading byte-order
// mark dropped.
std::string TextToUtf8(uint32_t charset, const ByteReader& text);

// text in charset as system code page text.
std::string TextToAnsi(uint32_t charset, const ByteReader& text);

// The same into a caller's buffer, without allocating for a short field:
// the longest prefix of whole characters of at most cap bytes is written
// to out, which holds cap + kIntoSlack bytes; the bytes written.
constexpr size_t kIntoSlack = 4;
size_t TextToUtf8Into(uint32_t charset, const ByteReader& text, char* out,
                      size_t cap);
size_t TextToAnsiInto(uint32_t charset, const ByteReader& text, char* out,
                      size_t cap);

// Longest prefix of utf8 of at most max bytes that ends on a whole
// character.
size_t Utf8Prefix(const std::string& utf8, size_t max);

// A text field of the phone's decoders (addresses, IDs, locations): an
// Encoded-string-value in its length form, or a text to its 0. A text that
// is not valid UTF-8 ends, unconsumed, at its first byte above 128, which
// the caller reads next as a field code.
[[nodiscard]] bool ReadTextRule(ByteReader& r, EncodedString* out);

}  // namespace mms::codec

#endif  // MMS_CODEC_TEXT_DECODE_H_
