// typed_text.h: the folder where a message record keeps its typed text.
//
// Each record that gets typed text has a folder of its own under
// kTypedTextRoot, made exclusively on the first AddPartTxt, so neither a
// decoded part nor another composer (thread or process) can replace the
// text. The record's destructor removes the folder and what it wrote
// there. The record's layout is fixed, so the folder is kept beside it.
#ifndef MMS_MODEL_TYPED_TEXT_H_
#define MMS_MODEL_TYPED_TEXT_H_

#include <string>

#include "mms.h"

namespace mms::model {

inline constexpr wchar_t kTypedTextRoot[] = L"\\Temp\\MMSText";

// The record's folder (device path ending in "\"), made now if it has none
// yet, noting that slide (0 to 31) writes its text there. False when no
// folder could be made.
bool TypedTextFolder(const MMS_Custom_Data* record, int slide,
                     std::wstring* folder);

// Removes the record's folder with its typed-text files, if it has one.
void ForgetTypedText(const MMS_Custom_Data* record);

}  // namespace mms::model

#endif  // MMS_MODEL_TYPED_TEXT_H_
