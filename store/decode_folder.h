// decode_folder.h: how much the decode folder keeps.
//
// A client may rely on the files of the message its process decoded last
// (opened, retrieved or MMS_DeCode) until that process decodes another.
// Beyond that, a decode that finds the folder holding more than
// kDecodeFolderSweepAbove entries removes files older than
// kDecodeFolderMinAgeSeconds, oldest first, until kDecodeFolderKeep remain.
#ifndef MMS_STORE_DECODE_FOLDER_H_
#define MMS_STORE_DECODE_FOLDER_H_

#include <cstddef>
#include <string>
#include <vector>

namespace mms::store {

inline constexpr size_t kDecodeFolderSweepAbove = 4096;
inline constexpr size_t kDecodeFolderKeep = 2048;
inline constexpr long kDecodeFolderMinAgeSeconds = 600;

// Called by a decode before it writes its part files, with their names (as
// in the decode folder): records them as this process's last message,
// releasing the one before, and keeps the folder within the bound above,
// sparing the last message of every running process.
void KeepDecodeFolderBounded(const std::vector<std::wstring>& names);

}  // namespace mms::store

#endif  // MMS_STORE_DECODE_FOLDER_H_
