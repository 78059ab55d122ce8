// compose.h: what mmsctl's composing commands share: text conversion at
// the command line, copying host files into the device root, and printing
// a composed message and a saved message file.
#ifndef MMS_TOOLS_MMSCTL_COMPOSE_H_
#define MMS_TOOLS_MMSCTL_COMPOSE_H_

#include <cstdio>
#include <string>

#include "mms.h"

namespace mmsctl {

// The command line and host paths are UTF-8; the library speaks wchar_t.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// Host path of a device path, or "" when it names nothing under the root.
std::string HostPath(const std::wstring& device_path);

// Copies a host file into the device folder "\Temp\mmsctl\" under its own
// name and gives its device path; false with a one-line reason otherwise.
bool CopyIntoDevice(const std::string& host_file, std::wstring* device_path,
                    std::string* error);

// Recipient, Cc, subject, options and slides with their files and
// durations, as the message record holds them.
void PrintMessage(MMS_Custom_Data* message, FILE* out);

// Device path, host path and size of a saved message file.
void PrintSaved(const std::wstring& device_path, FILE* out);

}  // namespace mmsctl

#endif  // MMS_TOOLS_MMSCTL_COMPOSE_H_
