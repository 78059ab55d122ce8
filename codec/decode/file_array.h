// file_array.h: re-making a message's file-name array for the decoder.
#ifndef MMS_CODEC_DECODE_FILE_ARRAY_H_
#define MMS_CODEC_DECODE_FILE_ARRAY_H_

#include "mms.h"

namespace mms::codec {

// Replaces the message's file-name array by a zero-filled one of entries
// (>= 1) 260-byte entries and sets m_nFileNum to entries. False (message
// unchanged) when the block cannot be had.
[[nodiscard]] bool RemakeFileArray(MMS_Custom_Data* message, int entries);

}  // namespace mms::codec

#endif  // MMS_CODEC_DECODE_FILE_ARRAY_H_
