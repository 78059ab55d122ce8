// device_fs.h: the device file system, a host folder standing in for the
// phone's storage.
//
// The device root is the host folder named by MMS_DEVICE_ROOT, or
// $XDG_DATA_HOME/mms-device (~/.local/share/mms-device) when unset. Device
// paths use "\" and each component matches an existing host entry without
// regard to letter case; host names are the UTF-8 form of device names.
// A path without a folder ("readreport.txt") names a file in the root.
// A root that does not exist yet is laid out like the phone's storage
// ("\Windows\Messaging", "\Temp", "\program files\Varnholt"); after that a
// removed folder stays removed. Resolved folders are remembered until the
// root changes or ForgetDevicePaths is called.
#ifndef MMS_PLATFORM_DEVICE_FS_H_
#define MMS_PLATFORM_DEVICE_FS_H_

#include <string>
#include <vector>

namespace mms::platform {

// Host path of the device root, laid out on first use.
std::string DeviceRoot();

// Points the device file system at another host folder (tests, tools).
// An empty path goes back to the environment's choice.
void SetDeviceRoot(const std::string& host_path);

// Drops the remembered folders (and the root check) after a remembered
// host folder went missing; true when anything was remembered, so that
// resolving again may give another host path.
bool ForgetDevicePaths();

// Host path for a device path. Existing components are matched without
// regard to case; the rest keep the spelling given. False for a path that
// cannot name anything under the root (for instance one that climbs out).
bool DeviceToHostPath(const std::wstring& device_path, std::string* host_path);

// The same with the last component spelled as given (its folders matched
// as above): where an entry of exactly that spelling is, found without
// looking into its folder. Calls on an existing entry try it first.
bool DeviceToHostPathAsGiven(const std::wstring& device_path,
                             std::string* host_path);

// Host folder for a device folder and the names of its entries when it
// holds at least at_least of them, else none (from the folder's name index:
// listed once per process, then kept current); false when the folder cannot
// be listed.
bool DeviceFolderEntries(const std::wstring& device_folder, size_t at_least,
                         std::string* host_folder,
                         std::vector<std::string>* names);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_DEVICE_FS_H_
