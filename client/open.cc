// open.cc: CMMS::MMS_Open, a stored message file into a message object:
// headers, part files in the decode folder, and slides from its SMIL.
//
// Only file errors are reported; what the decoder makes of the bytes is
// left in the message, as a client of the phone expects.
#include <new>

#include "codec/decode/body.h"
#include "mms.h"
#include "platform/whole_file.h"
#include "platform/winapi.h"
#include "store/decode_message.h"
#include "store/slide_files.h"

int CMMS::MMS_Open(wchar_t* path, MMS_Custom_Data* message) {
  if (path == nullptr || message == nullptr) {
    return -1;
  }
  try {
    DWORD size = 0;
    mms::platform::LocalBlock<unsigned char> pdu =
        mms::platform::ReadWholeFile(path, false, 0, &size);
    if (pdu == nullptr || size == 0) {
      return -1;
    }
    // Results ignored: a file that was read opens, whatever it held. The
    // slides come from the presentation the decode found, not from the
    // first file whose name holds "smil".
    mms::codec::DecodedFiles files;
    (void)mms::store::DecodeMessageFiles(pdu.get(), size, message, &files);
    (void)mms::store::ParseDecodedSlides(message, files);
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}
