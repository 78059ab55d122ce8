// dump_names.h: names of the values `mmsctl dump` shows: the enumerated
// header values of the MMS encapsulation, the WSP well-known content types,
// parameters, character sets and entry header fields.
//
// Field names come from the codec's one header table, never from here; this
// is the small value table beside it, read only by the dump.
#ifndef MMS_TOOLS_MMSCTL_DUMP_NAMES_H_
#define MMS_TOOLS_MMSCTL_DUMP_NAMES_H_

#include <cstdint>

#include "codec/header_table.h"

namespace mmsctl {

// Name of an enumerated value byte of the MMS header field code (7-bit);
// null when the field has no such value.
const char* HeaderValueName(uint8_t code, uint8_t value);

// Content types, parameters, character sets and entry header fields are
// named by the codec's tables.
using mms::codec::CharsetName;
using mms::codec::ContentTypeName;
using mms::codec::ParameterName;
using mms::codec::WspHeaderName;

}  // namespace mmsctl

#endif  // MMS_TOOLS_MMSCTL_DUMP_NAMES_H_
