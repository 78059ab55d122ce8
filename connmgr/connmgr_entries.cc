// connmgr_entries.cc: reading and writing the Connection Manager's keys
// (layout in connmgr_entries.h) through the registry calls, so other
// processes (mmsctl, tests) see and change the same entries.
#include "connmgr/connmgr_entries.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>

#include "platform/registry.h"
#include "platform/registry_db.h"
#include "platform/text_convert.h"

namespace mms::connmgr {

using platform::ConvertResult;
using platform::ConvertText;
using platform::kWideCharset;
using platform::ListStoredValues;
using platform::ReadWholeValue;
using platform::SetNewDeviceSeed;
using platform::StoredValue;

namespace {

class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  bool Create(const std::wstring& path) {
    DWORD disposition = 0;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &key_, &disposition) == ERROR_SUCCESS;
  }
  bool Open(const std::wstring& path) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ,
                         &key_) == ERROR_SUCCESS;
  }
  bool SetText(const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key_, name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size() * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
  }
  bool SetDword(const wchar_t* name, DWORD value) {
    return RegSetValueExW(key_, name, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
  }
  bool GetText(const wchar_t* name, std::wstring* text) {
    DWORD type = REG_NONE;
    std::vector<uint8_t> bytes;
    if (ReadWholeValue(key_, name, &type, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
      return false;
    }
    text->resize(bytes.size() / sizeof(wchar_t));
    if (!text->empty()) {
      std::memcpy(text->data(), bytes.data(), text->size() * sizeof(wchar_t));
    }
    return true;
  }
  bool GetDword(const wchar_t* name, DWORD* value) {
    DWORD type = REG_NONE;
    DWORD bytes = sizeof(*value);
    return RegQueryValueExW(key_, name, nullptr, &type,
                            reinterpret_cast<BYTE*>(value),
                            &bytes) == ERROR_SUCCESS &&
           type == REG_DWORD;
  }

 private:
  HKEY key_ = nullptr;
};

std::wstring Join(const wchar_t* parent, const std::wstring& child) {
  return std::wstring(parent) + L"\\" + child;
}

std::vector<std::wstring> Components(const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) {
      end = path.size();
    }
    if (end > start) {
      parts.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return parts;
}

std::wstring Fold(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  }
  return text;
}

// One key directly below a listed parent, with its values as stored.
struct ChildKey {
  std::wstring name;  // as spelled
  std::vector<StoredValue> values;
};

// The keys directly below parent that hold values, in the order their
// first value was written; one read of the database.
bool ChildKeys(const wchar_t* parent, std::vector<ChildKey>* children) {
  std::vector<StoredValue> values;
  if (!ListStoredValues(parent, &values)) {
    return false;
  }
  const size_t depth = Components(parent).size();
  std::map<std::wstring, size_t> index;  // folded name -> position
  children->clear();
  for (StoredValue& v : values) {
    const std::vector<std::wstring> parts = Components(v.key);
    if (parts.size() != depth + 1) {
      continue;
    }
    const auto [it, added] =
        index.emplace(Fold(parts[depth]), children->size());
    if (added) {
      children->push_back({parts[depth], {}});
    }
    (*children)[it->second].values.push_back(std::move(v));
  }
  return true;
}

const StoredValue* Find(const ChildKey& key, const wchar_t* name) {
  const std::wstring folded = Fold(name);
  for (const StoredValue& v : key.values) {
    if (Fold(v.name) == folded) {
      return &v;
    }
  }
  return nullptr;
}

// REG_SZ values are stored as UTF-16LE.
bool StoredText(const ChildKey& key, const wchar_t* name, std::wstring* text) {
  const StoredValue* v = Find(key, name);
  std::string wide_bytes;
  if (v == nullptr || v->type != REG_SZ ||
      ConvertText("UTF-16LE", kWideCharset, v->data.data(), v->data.size(),
                  &wide_bytes) != ConvertResult::kOk) {
    return false;
  }
  text->assign(wide_bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text->data(), wide_bytes.data(), text->size() * sizeof(wchar_t));
  return true;
}

bool StoredDword(const ChildKey& key, const wchar_t* name, DWORD* value) {
  const StoredValue* v = Find(key, name);
  if (v == nullptr || v->type != REG_DWORD || v->data.size() != 4) {
    return false;
  }
  std::memcpy(value, v->data.data(), sizeof(*value));
  return true;
}

bool HexDigits(const std::wstring& text, size_t at, size_t count,
               uint32_t* value) {
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    const wchar_t c = text[i];
    uint32_t digit;
    if (c >= L'0' && c <= L'9') {
      digit = static_cast<uint32_t>(c - L'0');
    } else if (c >= L'a' && c <= L'f') {
      digit = static_cast<uint32_t>(c - L'a' + 10);
    } else if (c >= L'A' && c <= L'F') {
      digit = static_cast<uint32_t>(c - L'A' + 10);
    } else {
      return false;
    }
    *value = *value << 4 | digit;
  }
  return true;
}

}  // namespace

bool ParseGuid(const std::wstring& text, GUID* guid) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text[0] != L'{' || text[37] != L'}' ||
      text[9] != L'-' || text[14] != L'-' || text[19] != L'-' ||
      text[24] != L'-') {
    return false;
  }
  GUID out = {};
  uint32_t v = 0;
  if (!HexDigits(text, 1, 8, &v)) {
    return false;
  }
  out.Data1 = v;
  if (!HexDigits(text, 10, 4, &v)) {
    return false;
  }
  out.Data2 = static_cast<WORD>(v);
  if (!HexDigits(text, 15, 4, &v)) {
    return false;
  }
  out.Data3 = static_cast<WORD>(v);
  const size_t byte_at[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (size_t i = 0; i < 8; ++i) {
    if (!HexDigits(text, byte_at[i], 2, &v)) {
      return false;
    }
    out.Data4[i] = static_cast<BYTE>(v);
  }
  *guid = out;
  return true;
}

std::wstring GuidText(const GUID& g) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool SameGuid(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::equal(a.Data4, a.Data4 + 8, b.Data4);
}

bool ParseStatusScript(const std::wstring& text, std::vector<DWORD>* script) {
  std::vector<DWORD> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L',', start);
    if (end == std::wstring::npos) {
      end = text.size();
    }
    std::wstring item = text.substr(start, end - start);
    const size_t first = item.find_first_not_of(L" \t");
    const size_t last = item.find_last_not_of(L" \t");
    if (first == std::wstring::npos) {
      return false;
    }
    item = item.substr(first, last - first + 1);
    wchar_t* stop = nullptr;
    const unsigned long long value = std::wcstoull(item.c_str(), &stop, 0);
    if (item[0] == L'-' || *stop != L'\0' || value > 0xFFFFFFFFull) {
      return false;
    }
    out.push_back(static_cast<DWORD>(value));
    start = end + 1;
    if (end < text.size() && start == text.size()) {
      return false;  // a trailing comma
    }
  }
  *script = out;
  return true;
}

std::wstring StatusScriptText(const std::vector<DWORD>& script) {
  std::wstring text;
  wchar_t item[16];
  for (size_t i = 0; i < script.size(); ++i) {
    std::swprintf(item, 16, i == 0 ? L"0x%X" : L",0x%X", script[i]);
    text += item;
  }
  return text;
}

bool ListEntries(std::vector<Entry>* entries) {
  std::vector<ChildKey> keys;
  if (!ChildKeys(kConnectionsKey, &keys)) {
    return false;
  }
  entries->clear();
  for (const ChildKey& key : keys) {
    Entry entry;
    entry.name = key.name;
    std::wstring text;
    if (StoredText(key, kDestIdValue, &text)) {
      (void)ParseGuid(text, &entry.dest);
    }
    (void)StoredText(key, kApnValue, &entry.apn);
    DWORD type = 0;
    if (StoredDword(key, kConnTypeValue, &type)) {
      entry.type = type;
    }
    if (StoredText(key, kStatusScriptValue, &text) &&
        !ParseStatusScript(text, &entry.script)) {
      // An unreadable script cannot connect.
      entry.script = {CONNMGR_STATUS_CONNECTIONFAILED};
    }
    DWORD provisioned = 0;
    entry.provisioned =
        StoredDword(key, kProvisionedValue, &provisioned) && provisioned != 0;
    entries->push_back(entry);
  }
  return true;
}

bool ListDestinations(std::vector<Destination>* destinations) {
  std::vector<ChildKey> keys;
  if (!ChildKeys(kDestinationsKey, &keys)) {
    return false;
  }
  destinations->clear();
  for (const ChildKey& key : keys) {
    std::wstring text;
    Destination destination;
    destination.name = key.name;
    if (StoredText(key, kDestIdValue, &text) &&
        ParseGuid(text, &destination.guid)) {
      destinations->push_back(destination);
    }
  }
  return true;
}

bool ProvisionedEntriesListed() {
  ScopedKey key;
  DWORD listed = 1;
  if (key.Open(kConnMgrKey) && key.GetDword(kListProvisionedValue, &listed)) {
    return listed != 0;
  }
  return true;
}

bool WriteEntry(const Entry& entry) {
  ScopedKey key;
  return key.Create(Join(kConnectionsKey, entry.name)) &&
         key.SetText(kDestIdValue, GuidText(entry.dest)) &&
         key.SetText(kApnValue, entry.apn) &&
         key.SetDword(kConnTypeValue, entry.type) &&
         key.SetText(kStatusScriptValue, StatusScriptText(entry.script));
}

bool WriteDestination(const Destination& destination) {
  ScopedKey key;
  return key.Create(Join(kDestinationsKey, destination.name)) &&
         key.SetText(kDestIdValue, GuidText(destination.guid));
}

bool WriteTexts(
    const std::wstring& key,
    const std::vector<std::pair<std::wstring, std::wstring>>& name_text_pairs) {
  ScopedKey k;
  if (!k.Create(key)) {
    return false;
  }
  for (const auto& [name, text] : name_text_pairs) {
    if (!k.SetText(name.c_str(), text)) {
      return false;
    }
  }
  return true;
}

bool WriteDword(const std::wstring& key, const wchar_t* name, DWORD value) {
  ScopedKey k;
  return k.Create(key) && k.SetDword(name, value);
}

bool ReadText(const std::wstring& key, const wchar_t* name,
              std::wstring* text) {
  ScopedKey k;
  return k.Open(key) && k.GetText(name, text);
}

void SeedNewDevice() {
  Destination internet;
  internet.name = kInternetName;
  (void)ParseGuid(kInternetGuid, &internet.guid);
  Entry gprs;
  gprs.name = L"GPRS";
  gprs.dest = internet.guid;
  gprs.apn = L"cmwap";
  (void)WriteDestination(internet);
  (void)WriteEntry(gprs);
}

namespace {
// A new device's registry gets them as it is laid out; every program that
// links the connection manager sets this before main.
[[maybe_unused]] const bool g_seed_set =
    (SetNewDeviceSeed(&SeedNewDevice), true);
}  // namespace

}  // namespace mms::connmgr
