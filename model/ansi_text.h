// ansi_text.h: conversions between UTF-16 and the 8-bit texts the message
// record keeps in its fixed 260-byte fields (system ANSI code page).
//
// Every conversion is sized first and refused when the result would not
// fit, so a fixed field is either replaced whole or left as it was.
#ifndef MMS_MODEL_ANSI_TEXT_H_
#define MMS_MODEL_ANSI_TEXT_H_

#include <stddef.h>

#include "mms.h"

namespace mms::model {

// Converts NUL-terminated wide text to ANSI into out (out_bytes, terminator
// included). False when the text does not convert or its ANSI form with
// terminator needs more than out_bytes; a field-sized out is then untouched.
[[nodiscard]] bool WideToAnsi(const wchar_t* text, char* out, size_t out_bytes);

// Converts the first `bytes` bytes of ANSI text to wide text into out
// (out_chars, terminator included) and terminates it. False when the bytes
// do not convert or do not fit; a 260-character out is then untouched.
[[nodiscard]] bool AnsiToWide(const char* text, size_t bytes, wchar_t* out,
                              size_t out_chars);

// The phone's UTF-8 decoder over count bytes: an optional byte-order mark
// is skipped, two- and three-byte forms become one unit each (overlong
// forms and stray continuation bytes pass), a four-byte lead or a sequence
// cut short by the end is refused. Writes the units and a terminator into
// out (capacity units, terminator included); false when refused or out is
// too small, with the units decoded so far left unterminated.
[[nodiscard]] bool DecodeUtf8(const unsigned char* bytes, size_t count,
                              wchar_t* out, size_t capacity);

// Length of a fixed field's text: up to its NUL, never past the field.
size_t FieldLength(const char* field, size_t field_bytes = MAX_PATH);

}  // namespace mms::model

#endif  // MMS_MODEL_ANSI_TEXT_H_
