// part_name.cc: the safe file name for a name taken from a received
// message; see part_name.h for the rules.
#include "codec/decode/part_name.h"

#include <algorithm>
#include <climits>
#include <cwctype>
#include <vector>

#include "codec/text_decode.h"
#include "platform/text_convert.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr size_t kMaxRawBytes = 1 << 16;  // far past any name that fits
constexpr size_t kMaxExtensionChars = 16;

std::wstring ToWide(const char* raw, size_t size) {
  const auto* bytes_in = reinterpret_cast<const uint8_t*>(raw);
  std::wstring utf8_wide;
  if (IsUtf8(bytes_in, size) &&
      platform::Utf8ToWideText(std::string(raw, size), &utf8_wide)) {
    return utf8_wide;  // ASCII, or a name sent in UTF-8
  }
  const int bytes = static_cast<int>(size);
  const int chars = MultiByteToWideChar(CP_ACP, 0, raw, bytes, nullptr, 0);
  if (chars > 0) {
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, raw, bytes, wide.data(), chars) ==
        chars) {
      return wide;
    }
  }
  // Bytes the code page rejects: plain ASCII survives, the rest is "_".
  std::wstring wide;
  for (size_t i = 0; i < size; ++i) {
    const unsigned char b = static_cast<unsigned char>(raw[i]);
    wide.push_back(b < 0x80 ? static_cast<wchar_t>(b) : L'_');
  }
  return wide;
}

bool IsUnsafeChar(wchar_t c) {
  return c < 32 || c == L'\\' || c == L'/' || c == L':' || c == L'*' ||
         c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|' ||
         c == 0x7F;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension.
bool IsDeviceName(const std::wstring& name) {
  std::wstring stem = name.substr(0, name.find(L'.'));
  for (wchar_t& c : stem) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") {
    return true;
  }
  return stem.size() == 4 &&
         (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

// Bytes each character takes in the system code page; a character that has
// no form there becomes "_".
std::vector<size_t> AnsiSizes(std::wstring* name) {
  std::vector<size_t> sizes;
  sizes.reserve(name->size());
  for (wchar_t& c : *name) {
    const int n =
        WideCharToMultiByte(CP_ACP, 0, &c, 1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
      c = L'_';
    }
    sizes.push_back(n <= 0 ? 1 : static_cast<size_t>(n));
  }
  return sizes;
}

// Cuts the stem until the name fits a path entry; the extension stays.
void FitPath(std::wstring* name) {
  const std::vector<size_t> sizes = AnsiSizes(name);
  size_t total = 0;
  for (size_t s : sizes) {
    total += s;
  }
  if (total <= kMaxPartNameBytes) {
    return;
  }
  size_t stem_end = name->size();
  const size_t dot = name->rfind(L'.');
  if (dot != std::wstring::npos && dot > 0 &&
      name->size() - dot <= kMaxExtensionChars + 1) {
    stem_end = dot;
  }
  size_t cut = stem_end;
  while (cut > 0 && total > kMaxPartNameBytes) {
    --cut;
    total -= sizes[cut];
  }
  name->erase(cut, stem_end - cut);
}

}  // namespace

std::wstring SafePartName(const char* raw, size_t size) {
  if (raw == nullptr || size == 0) {
    return std::wstring();
  }
  std::wstring name = ToWide(raw, std::min(size, kMaxRawBytes));
  for (wchar_t& c : name) {
    if (IsUnsafeChar(c)) {
      c = L'_';
    }
  }
  // The file system drops trailing dots and blanks, which would make "a."
  // the file "a" and ".." the folder above.
  for (size_t i = name.size();
       i > 0 && (name[i - 1] == L'.' || name[i - 1] == L' '); --i) {
    name[i - 1] = L'_';
  }
  if (IsDeviceName(name)) {
    name.insert(name.begin(), L'_');
  }
  FitPath(&name);
  if (name.empty()) {
    name = L"_";
  }
  return name;
}

}  // namespace mms::codec
