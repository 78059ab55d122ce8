// received.h: a received message's slides from the text of its SMIL part.
// Reading the part's file is the store layer's (store/slide_files.h).
#ifndef MMS_SMIL_RECEIVED_H_
#define MMS_SMIL_RECEIVED_H_

#include <string>

#include "codec/decode/body.h"
#include "mms.h"

namespace mms::smil {

// Index of the message's first file whose lowered path contains "smil"
// (its path into *path), or -1.
int FindSmilFile(MMS_Custom_Data* message, std::wstring* path);

// Takes text (a LocalAlloc block, now the message's) as the message's SMIL
// content and reads its slides. With files (a decode's names), each "src"
// resolves through the decode's Content-ID and Content-Location names
// ("cid:" included) and a media element placed straight in the body is a
// slide of its own; without, slide files are named by the part-name
// mapping. 1, or 0 when a slide cannot be made.
int TakeSlides(MMS_Custom_Data* message, char* text,
               const codec::DecodedFiles* files);

}  // namespace mms::smil

#endif  // MMS_SMIL_RECEIVED_H_
