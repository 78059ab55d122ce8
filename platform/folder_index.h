// folder_index.h: the entry names of the host folders the device file
// system has looked into, kept current by the kernel's change notices, so
// that a name missing from a folder is known without listing the folder.
#ifndef MMS_PLATFORM_FOLDER_INDEX_H_
#define MMS_PLATFORM_FOLDER_INDEX_H_

#include <string>
#include <vector>

namespace mms::platform {

// Letter case folding for one character (non-ASCII letters too).
wchar_t FoldCase(wchar_t c);

// The host spelling of an entry of host folder dir whose name equals
// wanted without regard to letter case; false when there is none (or dir
// cannot be listed).
bool FindByCase(const std::string& dir, const std::wstring& wanted,
                std::string* found);

// From the folder's name index (no path lookup): true with *found set to
// wanted_utf8 when host folder dir holds that exact name, else to an entry
// differing from it only in letter case, else empty. False when dir has no
// index (no change notices, or it cannot be listed).
bool IndexedName(const std::string& dir, const std::wstring& wanted,
                 const std::string& wanted_utf8, std::string* found);

// Every entry name of host folder dir ("." and ".." left out) when it holds
// at least at_least of them, else none (so a caller that acts only on a full
// folder copies nothing); false when dir cannot be listed.
bool FolderEntries(const std::string& dir, size_t at_least,
                   std::vector<std::string>* names);

// Forgets every folder's names (the device root changed, or a remembered
// folder went missing).
void ForgetFolderNames();

}  // namespace mms::platform

#endif  // MMS_PLATFORM_FOLDER_INDEX_H_
