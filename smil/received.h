// received.h: the slide step of opening a received message.
#ifndef MMS_SMIL_RECEIVED_H_
#define MMS_SMIL_RECEIVED_H_

#include "codec/decode/body.h"
#include "mms.h"

namespace mms::smil {

// Reads the presentation the decode found into the message's slides: each
// "src" resolves through the decode's Content-ID and Content-Location
// names ("cid:" included), and a media element placed straight in the
// body is a slide of its own. 1 (also with no presentation, leaving the
// message without slides), or 0 when the presentation cannot be read.
int ParseDecodedSlides(MMS_Custom_Data* message,
                       const codec::DecodedFiles& files);

}  // namespace mms::smil

#endif  // MMS_SMIL_RECEIVED_H_
