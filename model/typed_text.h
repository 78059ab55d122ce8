// typed_text.h: the folder where a message record keeps its typed text.
//
// Each record that gets typed text has a folder of its own under
// kTypedTextRoot, made exclusively on the first AddPartTxt, so neither a
// decoded part nor another composer (thread or process) can replace the
// text. The record's destructor deletes what it wrote there and gives the
// emptied folder back for a later record of this process (see
// platform/spare_folders.h), or removes it. The record's layout is fixed,
// so the folder is kept beside it.
#ifndef MMS_MODEL_TYPED_TEXT_H_
#define MMS_MODEL_TYPED_TEXT_H_

#include <string>

#include "mms.h"
#include "platform/winapi.h"

namespace mms::model {

inline constexpr wchar_t kTypedTextRoot[] = L"\\Temp\\MMSText";

// Creates (or empties) "tempTxt<slide>.txt" (slide 0 to 31) in the
// record's folder, which is made now if the record has none yet: a handle
// open for writing, and the file's device path in *path.
// INVALID_HANDLE_VALUE when the folder or the file cannot be made.
HANDLE CreateTypedTextFile(const MMS_Custom_Data* record, int slide,
                           std::wstring* path);

// Deletes the record's typed-text files and lets its folder go, if it has
// one.
void ForgetTypedText(const MMS_Custom_Data* record);

}  // namespace mms::model

#endif  // MMS_MODEL_TYPED_TEXT_H_
