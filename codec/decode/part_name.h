// part_name.h: the one mapping from a name found in a received message (a
// part's Content-Location or Content-ID, a SMIL "src") to the name of a
// file in the decode folder.
//
// The decoder names part files with it and the SMIL parser names slide
// files with it, so a slide always points at the file that was written.
// The result never leaves the decode folder and always fits a path entry.
#ifndef MMS_CODEC_DECODE_PART_NAME_H_
#define MMS_CODEC_DECODE_PART_NAME_H_

#include <cstddef>
#include <string>

namespace mms::codec {

// The folder part files are named into (the device file system ignores
// case; store/store.h creates it).
inline constexpr wchar_t kDecodeFolder[] = L"\\temp\\mmsdecode\\";

// Longest name (in system code page bytes) that still fits a 260-byte path
// entry behind "\temp\mmsdecode\".
constexpr size_t kMaxPartNameBytes = 259 - 16;

// The file name for raw (size bytes of UTF-8 text when they are valid
// UTF-8, else of system code page text): separators,
// drive colons, wildcard and control characters become "_", as do
// trailing dots and blanks (so "." and ".." are plain names); a reserved
// device name (CON, NUL, COM1, ...) gets a leading "_"; a name too long
// for a path loses the end of its stem, keeping its extension. Empty for
// an empty raw name only.
std::wstring SafePartName(const char* raw, size_t size);

}  // namespace mms::codec

#endif  // MMS_CODEC_DECODE_PART_NAME_H_
