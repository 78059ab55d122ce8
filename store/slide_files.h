// slide_files.h: the slide step of opening a received message: its SMIL
// part's file read into the message's slides (MMS_Custom_Data's
// RecivedToParseSmil is defined beside it).
#ifndef MMS_STORE_SLIDE_FILES_H_
#define MMS_STORE_SLIDE_FILES_H_

#include "codec/decode/body.h"
#include "mms.h"

namespace mms::store {

// Reads the presentation the decode found into the message's slides: each
// "src" resolves through the decode's Content-ID and Content-Location
// names ("cid:" included), and a media element placed straight in the
// body is a slide of its own. 1 (also with no presentation, leaving the
// message without slides), or 0 when the presentation cannot be read.
int ParseDecodedSlides(MMS_Custom_Data* message,
                       const codec::DecodedFiles& files);

}  // namespace mms::store

#endif  // MMS_STORE_SLIDE_FILES_H_
