// file_array.cc: re-making a message's file-name array for the decoder.
//
// The record derives its array's capacity from the block's size, so a
// block of exactly one entry per part is all it takes.
#include "codec/decode/file_array.h"

namespace mms::codec {

bool RemakeFileArray(MMS_Custom_Data* message, int entries) {
  if (message == nullptr || entries < 1) {
    return false;
  }
  auto* array = static_cast<char(*)[MAX_PATH]>(
      LocalAlloc(LPTR, static_cast<size_t>(entries) * MAX_PATH));
  if (array == nullptr) {
    return false;
  }
  LocalFree(message->m_pFileNameArray);
  message->m_pFileNameArray = array;
  message->m_nFileNum = entries;
  return true;
}

}  // namespace mms::codec
