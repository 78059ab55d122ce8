// device_fs.cc: the device root and the mapping of device paths to host
// paths.
//
// Root: $MMS_DEVICE_ROOT, else $XDG_DATA_HOME/mms-device, else
// ~/.local/share/mms-device (SetDeviceRoot overrides all three). A root
// that does not exist, or an empty folder made for it, is laid out with
// "\Windows\Messaging", "\Temp" and "\program files\Varnholt"; a root in
// use is never laid out again, so a folder removed from it stays removed. Each device path component takes
// the spelling of an existing host entry (exact match first, then one that
// differs only in letter case); "." and ".." are refused outright, so no
// device path reaches outside the root.
#include "platform/device_fs.h"

#include <locale.h>
#include <stdlib.h>
#include <wctype.h>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/text_convert.h"

namespace fs = std::filesystem;

namespace mms::platform {
namespace {

std::mutex g_root_mu;
std::string g_root_override;  // guarded by g_root_mu; empty: environment

std::string RootFromEnvironment() {
  const char* root = getenv("MMS_DEVICE_ROOT");
  if (root != nullptr && root[0] != '\0') {
    return root;
  }
  const char* data = getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] != '\0') {
    return std::string(data) + "/mms-device";
  }
  const char* home = getenv("HOME");
  std::string base = home != nullptr && home[0] != '\0' ? home : ".";
  return base + "/.local/share/mms-device";
}

void LayOut(const fs::path& root) {
  std::error_code ignored;
  fs::create_directories(root / "Windows" / "Messaging", ignored);
  fs::create_directories(root / "Temp", ignored);
  fs::create_directories(root / "program files" / "Varnholt", ignored);
}

// Letter case folding for one character; C.UTF-8 knows the non-ASCII
// letters, the plain C locale only ASCII.
wchar_t FoldCase(wchar_t c) {
  static locale_t folding = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (folding != nullptr) {
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), folding));
  }
  return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;
}

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) {
      return false;
    }
  }
  return true;
}

// Splits on "\" (and "/", which the phone also accepts); empty components
// from doubled or leading separators are dropped.
std::vector<std::wstring> SplitDevicePath(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (wchar_t c : path) {
    if (c == L'\\' || c == L'/') {
      if (!current.empty()) {
        parts.push_back(current);
      }
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) {
    parts.push_back(current);
  }
  return parts;
}

// The host spelling of one component inside folder dir.
std::string MatchComponent(const fs::path& dir, const std::wstring& wanted,
                           const std::string& wanted_utf8) {
  std::error_code ec;
  if (fs::exists(dir / wanted_utf8, ec)) {
    return wanted_utf8;
  }
  fs::directory_iterator it(dir, ec);
  if (ec) {
    return wanted_utf8;
  }
  for (const fs::directory_entry& entry : it) {
    std::string name = entry.path().filename().string();
    std::wstring wide;
    if (Utf8ToWideText(name, &wide) && SameIgnoringCase(wide, wanted)) {
      return name;
    }
  }
  return wanted_utf8;
}

}  // namespace

std::string DeviceRoot() {
  std::string root;
  {
    std::lock_guard<std::mutex> lock(g_root_mu);
    root = g_root_override.empty() ? RootFromEnvironment() : g_root_override;
  }
  std::error_code ec;
  if (!fs::exists(root, ec)) {
    fs::create_directories(root, ec);
    if (!ec) {
      LayOut(root);
    }
  } else if (fs::is_empty(root, ec) && !ec) {
    LayOut(root);  // a folder the user made for the device
  }
  return root;
}

void SetDeviceRoot(const std::string& host_path) {
  std::lock_guard<std::mutex> lock(g_root_mu);
  g_root_override = host_path;
}

bool DeviceToHostPath(const std::wstring& device_path, std::string* host_path) {
  fs::path host = DeviceRoot();
  bool matching = true;  // false once a component does not exist
  for (const std::wstring& part : SplitDevicePath(device_path)) {
    if (part == L"." || part == L".." ||
        part.find(L'\0') != std::wstring::npos) {
      return false;
    }
    std::string utf8;
    if (!WideToUtf8Text(part, &utf8)) {
      return false;
    }
    std::string name = matching ? MatchComponent(host, part, utf8) : utf8;
    host /= name;
    std::error_code ec;
    matching = matching && fs::is_directory(host, ec);
  }
  *host_path = host.string();
  return true;
}

bool HostToDevicePath(const std::string& host_path, std::wstring* device_path) {
  fs::path root = fs::path(DeviceRoot()).lexically_normal();
  if (!root.has_filename()) {
    root = root.parent_path();  // "/x/dev/" would compare as "/x/dev/."
  }
  fs::path relative =
      fs::path(host_path).lexically_normal().lexically_relative(root);
  if (relative.empty()) {
    return false;
  }
  std::wstring device;
  for (const fs::path& part : relative) {
    std::string name = part.string();
    if (name == "..") {
      return false;
    }
    if (name == "." || name.empty()) {
      continue;
    }
    std::wstring wide;
    if (!Utf8ToWideText(name, &wide)) {
      return false;
    }
    device += L'\\';
    device += wide;
  }
  *device_path = device.empty() ? L"\\" : device;
  return true;
}

}  // namespace mms::platform
