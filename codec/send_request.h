// send_request.h: the header block of an m-send-req and the whole PDU.
//
// The header block is written in a fixed field order, Content-Type last;
// CMMS::MMS_MakeSendData (a private member, defined in send_request.cc)
// follows it with the entry count and the body of send_body.h.
#ifndef MMS_CODEC_SEND_REQUEST_H_
#define MMS_CODEC_SEND_REQUEST_H_

#include <cstddef>

#include "codec/byte_writer.h"
#include "codec/records.h"

namespace mms::codec {

// Most bytes a header block may take. Texts come from 260-byte fields, so
// only an absurd Cc count comes near it; that message is refused.
constexpr size_t kMaxSendHeaderBytes = 64 * 1024;

// Appends the header block of the message's send request to out. False
// when the message has no option record or the block passes the cap.
[[nodiscard]] bool PutSendHeader(MMS_Custom_Data* message, ByteWriter* out);

// New block holding the header block; header->nHeaderLength gets its
// length. Null on the failures of PutSendHeader or when memory runs out.
unsigned char* MakeSendHeader(MMS_Header* header, MMS_Custom_Data* message);

}  // namespace mms::codec

#endif  // MMS_CODEC_SEND_REQUEST_H_
