// dump_values.h: how `mmsctl dump` shows one value: texts quoted with
// unprintable bytes escaped, numbers and dates, enumerations by name, and
// content types with their parameters. Every read goes through ByteReader.
#ifndef MMS_TOOLS_MMSCTL_DUMP_VALUES_H_
#define MMS_TOOLS_MMSCTL_DUMP_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/byte_reader.h"
#include "codec/header_fields.h"

namespace mmsctl::dump {

using mms::codec::ByteReader;

std::string Number(uint64_t n);
// "0x2a"
std::string Hex(uint64_t n);
// "0x002a"
std::string Offset(size_t n);
// The first bytes in hex, "..." when there are more.
std::string HexOf(ByteReader bytes);
// Bytes a terminal would not show as they are become \xNN; bytes of 128
// and up stay when the text is UTF-8, except the two-byte forms of the
// C1 controls (U+0080 to U+009F), which a terminal obeys too.
std::string Escaped(ByteReader text, bool utf8);
// Received UTF-8 text as Escaped shows it, for printing values that came
// from outside (pushes, the registry).
std::string Escaped(const std::string& utf8);
// The escaped text in double quotes.
std::string Quoted(const ByteReader& text, bool utf8);
std::string Unreadable(const ByteReader& value);
// Any WSP value by its first byte: integer, text or raw bytes.
std::string GenericValue(ByteReader value);
// A Content-type-value with its parameters; *media gets the media type.
std::string ContentType(const ByteReader& value, std::string* media);
// The value of a header field by its row's kind; *media gets the media
// type of a Content-Type.
std::string FieldValue(const mms::codec::HeaderField& field,
                       std::string* media);

}  // namespace mmsctl::dump

#endif  // MMS_TOOLS_MMSCTL_DUMP_VALUES_H_
