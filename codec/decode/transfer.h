// transfer.h: the content transfer encodings a part may be sent in.
#ifndef MMS_CODEC_DECODE_TRANSFER_H_
#define MMS_CODEC_DECODE_TRANSFER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mms::codec {

// Base64: characters outside the alphabet (line breaks, blanks) are
// skipped; decoding ends at the first "=".
std::vector<uint8_t> DecodeBase64(const uint8_t* text, size_t n);

// Quoted-printable: "=XX" is the byte XX, "=" before a line break joins
// the lines; anything else is itself.
std::vector<uint8_t> DecodeQuotedPrintable(const uint8_t* text, size_t n);

}  // namespace mms::codec

#endif  // MMS_CODEC_DECODE_TRANSFER_H_
