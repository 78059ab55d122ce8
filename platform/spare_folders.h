// spare_folders.h: emptied folders kept to be handed out again.
//
// Making a folder and removing it again costs several system calls, and the
// new folder's name index is set up anew each time. A user of short-lived
// folders of its own gives an emptied one back here instead of removing it,
// and takes it again for its next folder. At most a few are kept. They are
// removed when the device root changes, when the remembered paths are
// dropped (ForgetDevicePaths) and when the process exits; a forked child
// forgets its parent's without removing them.
#ifndef MMS_PLATFORM_SPARE_FOLDERS_H_
#define MMS_PLATFORM_SPARE_FOLDERS_H_

#include <string>

namespace mms::platform {

// Keeps the emptied device folder `folder` (ending in "\"), a child of
// device folder `parent` (spelled as the caller always spells it). False
// when it is not kept (no room, the process is exiting, or it cannot be
// found): the caller removes it.
bool KeepSpareFolder(const std::wstring& parent, const std::wstring& folder);

// A folder kept under `parent` for the current device root, taken out of
// the pool; false when there is none. It may have been removed since.
bool TakeSpareFolder(const std::wstring& parent, std::wstring* folder);

// Removes every kept folder.
void RemoveSpareFolders();

}  // namespace mms::platform

#endif  // MMS_PLATFORM_SPARE_FOLDERS_H_
