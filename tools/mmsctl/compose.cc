// compose.cc: shared helpers of `mmsctl save` and `mmsctl demo`.
#include "tools/mmsctl/compose.h"

#include <filesystem>
#include <system_error>

#include "platform/device_fs.h"
#include "platform/text_convert.h"

namespace mmsctl {

namespace {

constexpr wchar_t kCopyFolder[] = L"\\Temp\\mmsctl";

std::string OptionLine(const MMS_Option& o) {
  static const char* const kPriority[] = {"", "low", "high"};
  static const char* const kClass[] = {"", "advertisement", "informational",
                                       "auto"};
  std::string line;
  if (o.nPriority != 0) {
    line += std::string(" priority=") + (o.nPriority == 1 || o.nPriority == 2
                                             ? kPriority[o.nPriority]
                                             : "normal");
  }
  if (o.nExpiry != 0) {
    line += " expiry=" + std::to_string(o.nExpiry) + "h";
  }
  if (o.nDeliveryTime != 0) {
    line += std::string(" delivery-time=") + (o.nDeliveryTime == 1   ? "+1h"
                                              : o.nDeliveryTime == 2 ? "+1d"
                                                                     : "now");
  }
  if (o.nMessageClass != 0) {
    line +=
        std::string(" class=") + (o.nMessageClass >= 1 && o.nMessageClass <= 3
                                      ? kClass[o.nMessageClass]
                                      : "personal");
  }
  if (o.bHideSender != 0) {
    line += " hide-sender";
  }
  if (o.bDeliveryReport != 0) {
    line += " delivery-report";
  }
  if (o.bReadReport != 0) {
    line += " read-report";
  }
  return line.empty() ? " (none)" : line;
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  if (!mms::platform::Utf8ToWideText(utf8, &wide)) {
    // Not UTF-8: keep the bytes as Latin-1 rather than dropping them.
    wide.assign(utf8.begin(), utf8.end());
  }
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  std::string utf8;
  if (!mms::platform::WideToUtf8Text(wide, &utf8)) {
    utf8 = "<not convertible>";
  }
  return utf8;
}

std::string HostPath(const std::wstring& device_path) {
  std::string host;
  if (!mms::platform::DeviceToHostPath(device_path, &host)) {
    return "";
  }
  return host;
}

bool CopyIntoDevice(const std::string& host_file, std::wstring* device_path,
                    std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_regular_file(host_file, ec)) {
    *error = "no such file: " + host_file;
    return false;
  }
  const std::string name = fs::path(host_file).filename().string();
  const std::wstring device = std::wstring(kCopyFolder) + L"\\" + Wide(name);
  const std::string folder = HostPath(kCopyFolder);
  const std::string target = HostPath(device);
  if (folder.empty() || target.empty()) {
    *error = "cannot place " + name + " in the device root";
    return false;
  }
  fs::create_directories(folder, ec);
  if (ec || !fs::copy_file(host_file, target,
                           fs::copy_options::overwrite_existing, ec)) {
    *error =
        "cannot copy " + host_file + " into the device root: " + ec.message();
    return false;
  }
  *device_path = device;
  return true;
}

void PrintMessage(MMS_Custom_Data* message, FILE* out) {
  wchar_t text[MAX_PATH] = {};
  message->GetPhoneNumber(text);
  std::fprintf(out, "  To:       %s\n", Utf8(text).c_str());
  for (int i = 0; i < message->m_nCcNumber; ++i) {
    wchar_t cc[MAX_PATH] = {};
    if (message->GetCcName(cc, i) == 1) {
      std::fprintf(out, "  Cc:       %s\n", Utf8(cc).c_str());
    }
  }
  wchar_t subject[MAX_PATH] = {};
  message->GetSubject(subject);
  std::fprintf(out, "  Subject:  %s\n", Utf8(subject).c_str());
  std::fprintf(out, "  Options: %s\n",
               message->m_pOption != nullptr
                   ? OptionLine(*message->m_pOption).c_str()
                   : " (none)");
  for (int s = 0; s < message->m_nPartNum && s < 32; ++s) {
    const MMS_Smil_Part* slide = message->m_pSmilPart[s];
    if (slide == nullptr) {
      std::fprintf(out, "  Slide %d:  (empty)\n", s);
      continue;
    }
    std::string files;
    for (int f = 0; f < slide->m_nFileNum && f < 32; ++f) {
      files += (f == 0 ? "" : ", ") + Utf8(slide->m_szFileName[f]);
    }
    std::fprintf(out, "  Slide %d:  %d ms: %s\n", s, slide->m_nPartTime,
                 files.c_str());
  }
  for (int i = 0; i < message->m_nFileNum; ++i) {
    wchar_t path[MAX_PATH] = {};
    if (message->GetFileName(i, path) == 1) {
      std::error_code ec;
      auto size = std::filesystem::file_size(HostPath(path), ec);
      std::fprintf(out, "  File %d:   %s (%s bytes)\n", i, Utf8(path).c_str(),
                   ec ? "?" : std::to_string(size).c_str());
    }
  }
}

void PrintSaved(const std::wstring& device_path, FILE* out) {
  const std::string host = HostPath(device_path);
  std::error_code ec;
  auto size = std::filesystem::file_size(host, ec);
  std::fprintf(out, "saved: %s\nhost:  %s\nsize:  %s bytes\n",
               Utf8(device_path).c_str(), host.c_str(),
               ec ? "?" : std::to_string(size).c_str());
}

}  // namespace mmsctl
