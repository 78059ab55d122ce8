// decoder.h: entry points of the PDU decoders.
//
// The specified forms take no PDU length and trust their input; inside the
// library every caller knows the length and uses the bounded forms, which
// never read past pdu + size.
#ifndef MMS_CODEC_DECODE_DECODER_H_
#define MMS_CODEC_DECODE_DECODER_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_reader.h"
#include "codec/records.h"
#include "codec/wsp_reader.h"
#include "mms.h"

// Header block of a PDU into header (and the message's Cc text and
// read-report flag); *headerLength = offset of the entry count. 0, or -1
// for null arguments. The two-argument caller cannot know the length, so
// this form reads until the Content-Type ends the header.
int DecodeMmsHeader(MMS_Header* header, const unsigned char* pdu,
                    MMS_Custom_Data* message, int* headerLength);

namespace mms::codec {

// What the header says about the body that follows it.
struct HeaderInfo {
  ContentTypeValue content_type;  // views into the PDU
  size_t body_offset = 0;         // first byte after the Content-Type value
};

// The header block at r into header (and the message's Cc text and
// read-report flag). 0 when a Content-Type ended it (*info filled), 1 when
// the input ended cleanly without one, -1 when it ends inside a field or
// memory runs out. The fields read so far stay in header in every case.
int DecodeHeader(ByteReader& r, MMS_Header* header, MMS_Custom_Data* message,
                 HeaderInfo* info);

// The same, bounded by size: a PDU that ends before its Content-Type gives
// -1 (the fields read so far stay in header for the caller to inspect).
int DecodeMmsHeaderBounded(MMS_Header* header, const uint8_t* pdu, size_t size,
                           MMS_Custom_Data* message, int* headerLength);

}  // namespace mms::codec

#endif  // MMS_CODEC_DECODE_DECODER_H_
