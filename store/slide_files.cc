// slide_files.cc: a received message's SMIL file read into its slides
// (MMS_Custom_Data::RecivedToParseSmil, and the slide step of opening a
// message); the parsing is smil/received.h's.
#include "store/slide_files.h"

#include <new>
#include <string>

#include "platform/whole_file.h"
#include "platform/winapi.h"
#include "smil/received.h"

namespace mms::store {
namespace {

// The whole file plus a NUL in a new LocalAlloc block; null when it cannot
// be read. A missing file is created empty and reads as "".
char* ReadTextFile(const std::wstring& path) {
  DWORD size = 0;
  return reinterpret_cast<char*>(
      platform::ReadWholeFile(path.c_str(), true, 1, &size).release());
}

}  // namespace

int ParseDecodedSlides(MMS_Custom_Data* message,
                       const codec::DecodedFiles& files) {
  if (message == nullptr || files.presentation.empty()) {
    return 1;
  }
  try {
    message->m_bSmilParsed = 1;
    char* text = ReadTextFile(files.presentation);
    if (text == nullptr) {
      return 0;
    }
    return smil::TakeSlides(message, text, &files);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace mms::store

int MMS_Custom_Data::RecivedToParseSmil(void) {
  if (m_nFileNum == 0) {
    return 0;
  }
  try {
    std::wstring path;
    if (mms::smil::FindSmilFile(this, &path) < 0) {
      return 1;
    }
    m_bSmilParsed = 1;
    char* text = mms::store::ReadTextFile(path);
    if (text == nullptr) {
      return 0;
    }
    (void)mms::smil::TakeSlides(this, text, nullptr);
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}
