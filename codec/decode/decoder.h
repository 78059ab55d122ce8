// decoder.h: entry points of the PDU decoders.
//
// The specified forms take no PDU length and trust their input; inside the
// library every caller knows the length and uses the bounded forms, which
// never read past pdu + size.
#ifndef MMS_CODEC_DECODE_DECODER_H_
#define MMS_CODEC_DECODE_DECODER_H_

#include <cstddef>
#include <cstdint>

#include "codec/records.h"
#include "mms.h"

// Header block of a PDU into header (and the message's Cc text and
// read-report flag); *headerLength = offset of the entry count. 0, or -1
// for null arguments. The two-argument caller cannot know the length, so
// this form reads until the Content-Type ends the header.
int DecodeMmsHeader(MMS_Header* header, const unsigned char* pdu,
                    MMS_Custom_Data* message, int* headerLength);

namespace mms::codec {

// The same, bounded by size: a PDU that ends before its Content-Type gives
// -1 (the fields read so far stay in header for the caller to inspect).
int DecodeMmsHeaderBounded(MMS_Header* header, const uint8_t* pdu,
                           size_t size, MMS_Custom_Data* message,
                           int* headerLength);

// A whole PDU of size bytes into message: header fields, part files in the
// decode folder, the file array. 0 or -1, as CMMS::MMS_DeCode.
int DecodeMessage(const uint8_t* pdu, size_t size, MMS_Custom_Data* message);

}  // namespace mms::codec

#endif  // MMS_CODEC_DECODE_DECODER_H_
