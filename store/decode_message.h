// decode_message.h: decoding a whole PDU into a message record and one file
// per part in the decode folder. The codec parses and names the parts
// (codec/decode/body.h); the files are written here.
#ifndef MMS_STORE_DECODE_MESSAGE_H_
#define MMS_STORE_DECODE_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/decode/body.h"
#include "mms.h"

namespace mms::store {

// Records "\temp\mmsdecode\<name>" as file index of the message and writes
// the part's bytes there (decoded when sent as base64 or
// quoted-printable). 1, or -1 when the file cannot be recorded or written.
int WritePartFile(const codec::PartView& part, const std::wstring& name,
                  MMS_Custom_Data* message, int index);

// A whole PDU of size bytes into message: header fields, part files in the
// decode folder, the file array. 0 or -1, as CMMS::MMS_DeCode.
int DecodeMessage(const uint8_t* pdu, size_t size, MMS_Custom_Data* message);

// The same, also giving what the slide step needs (files may be null).
int DecodeMessageFiles(const uint8_t* pdu, size_t size,
                       MMS_Custom_Data* message, codec::DecodedFiles* files);

}  // namespace mms::store

#endif  // MMS_STORE_DECODE_MESSAGE_H_
