// uintvar.h: the WSP variable-length unsigned integer, in one place.
//
// Seven value bits per byte, most significant group first; bit 7 set on
// every byte but the last:
//
//   0       -> 00
//   127     -> 7F
//   128     -> 81 00
//   16383   -> FF 7F
//   2^32-1  -> 8F FF FF FF 7F
//
// At most five bytes carry 32 bits. A sixth byte, or a value past 32 bits,
// is an error when reading, never a clamp.
#ifndef MMS_CODEC_UINTVAR_H_
#define MMS_CODEC_UINTVAR_H_

#include <cstddef>
#include <cstdint>

#include "mms.h"

namespace mms::codec {

constexpr size_t kMaxUintvarBytes = 5;

// Number of bytes the uintvar of value takes (1 to 5).
size_t UintvarSize(uint32_t value);

// Writes the uintvar of value into out (room for kMaxUintvarBytes) and
// returns its size.
size_t PutUintvar(uint32_t value, uint8_t* out);

// Reads a uintvar from data[0..size). Returns the bytes consumed, or 0 when
// the input ends inside it, it runs past five bytes or past 32 bits.
size_t GetUintvar(const uint8_t* data, size_t size, uint32_t* value);

// A date value is seconds since 1970-01-01 00:00:00 UTC, read as a signed
// or an unsigned 32-bit number depending on the PDU.
enum class DateSign { kSigned, kUnsigned };

// The local time of a date value; false when it cannot be converted.
bool SecondsToLocalTime(uint32_t value, DateSign sign, SYSTEMTIME* local);

}  // namespace mms::codec

// Specified primitives, on top of the above.

// Writes the uintvar of value into out (at least 5 bytes). 1 written; 0
// when the scratch space cannot be had (nothing written).
int EncodeUintvar(uint32_t value, unsigned char* out);

// New LocalAlloc block holding exactly the uintvar of value; its size goes
// to *size. A uintvar may end in 0, so it is never measured as a text.
unsigned char* MakeUintvar(uint32_t value, int* size);

// Big-endian bytes of value into out[4]; *count = significant bytes (1-4).
// The WSP Long-integer is then count followed by the last count bytes.
int EncodeLongInteger(uint32_t value, unsigned char* out, int* count);

// Seconds since 1970-01-01 00:00:00 for a SYSTEMTIME taken as UTC.
int64_t SystemTimeToSeconds(const SYSTEMTIME* time);

#endif  // MMS_CODEC_UINTVAR_H_
