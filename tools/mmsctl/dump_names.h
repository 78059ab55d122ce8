// dump_names.h: names of the values `mmsctl dump` shows: the enumerated
// header values of the MMS encapsulation, the WSP well-known content types,
// parameters, character sets and entry header fields.
//
// Field names come from the codec's one header table, never from here; this
// is the small value table beside it, read only by the dump.
#ifndef MMS_TOOLS_MMSCTL_DUMP_NAMES_H_
#define MMS_TOOLS_MMSCTL_DUMP_NAMES_H_

#include <cstdint>

namespace mmsctl {

// Name of an enumerated value byte of the MMS header field code (7-bit);
// null when the field has no such value.
const char* HeaderValueName(uint8_t code, uint8_t value);

// WSP well-known content type (7-bit code, or a Long-integer value).
const char* ContentTypeName(uint32_t code);

// WSP well-known parameter (7-bit code).
const char* ParameterName(uint8_t code);

// IANA MIBenum of the character sets MMS messages carry.
const char* CharsetName(uint32_t mib);

// WSP header field of a multipart entry or a push (7-bit code).
const char* WspHeaderName(uint8_t code);

}  // namespace mmsctl

#endif  // MMS_TOOLS_MMSCTL_DUMP_NAMES_H_
