// registry_values.cc: the small registry routines every part of the library
// publishes its results through.
//
// Failures are silent by design: callers go on whatever happens. Only the
// DWORD writer (and the group writer) creates the key; string and binary
// writes into a missing key are lost until a DWORD write has made it again.
#include "store/registry_values.h"

#include <cstring>
#include <string>
#include <vector>

#include "diag/log.h"
#include "platform/registry.h"
#include "platform/winapi.h"

namespace {

// Read and write access, as the phone's writers ask for it.
constexpr DWORD kReadWriteAccess = 0x2001F;
constexpr DWORD kCurrentIdBytes = 16;

int SetExisting(wchar_t* subkey, wchar_t* name, DWORD type, const BYTE* data,
                DWORD bytes) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, kReadWriteAccess, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  const LONG result = RegSetValueExW(key, name, 0, type, data, bytes);
  if (result == ERROR_SUCCESS) {
    RegFlushKey(key);
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? 1 : 0;
}

constexpr size_t kMaxGroupValues = 8;

}  // namespace

namespace mms::store {

bool WriteStatusGroup(const wchar_t* state_name, const GroupValue* values,
                      size_t count, const platform::AlongWrite& along) {
  if (count + 1 > kMaxGroupValues) {
    return false;
  }
  mms::platform::ValueWrite writes[kMaxGroupValues];
  for (size_t i = 0; i < count; ++i) {
    const GroupValue& v = values[i];
    writes[i] =
        v.is_text
            ? mms::platform::ValueWrite{v.name, REG_SZ,
                                        reinterpret_cast<const BYTE*>(v.text),
                                        static_cast<DWORD>(wcslen(v.text) *
                                                           sizeof(wchar_t))}
            : mms::platform::ValueWrite{v.name, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&v.dword),
                                        sizeof(DWORD)};
  }
  const DWORD state = Random();
  writes[count] = mms::platform::ValueWrite{
      state_name, REG_DWORD, reinterpret_cast<const BYTE*>(&state),
      sizeof(DWORD)};
  if (mms::platform::SetValuesTogether(kMmsKey, writes, count + 1, along) ==
      ERROR_SUCCESS) {
    return true;
  }
  // Busy past the bounded wait, or failed: nothing of the group was
  // written and its state was not raised; it is not lost silently.
  LogText(GetLog(), L"Status group not written: %ls\n", state_name);
  return false;
}

}  // namespace mms::store

int RegSetDword(HKEY root, wchar_t* subkey, wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      kReadWriteAccess, nullptr, &key,
                      &disposition) != ERROR_SUCCESS) {
    return 0;
  }
  const LONG result =
      RegSetValueExW(key, name, 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&value), sizeof(value));
  if (result == ERROR_SUCCESS) {
    RegFlushKey(key);
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? 1 : 0;
}

int RegSetString(wchar_t* subkey, wchar_t* name, wchar_t* text) {
  if (text == nullptr) {
    return 0;
  }
  // Exactly the characters, without the terminator.
  const auto bytes = static_cast<DWORD>(wcslen(text) * sizeof(wchar_t));
  return SetExisting(subkey, name, REG_SZ, reinterpret_cast<BYTE*>(text),
                     bytes);
}

int RegSetBinary(wchar_t* subkey, wchar_t* name, unsigned char* bytes) {
  if (bytes == nullptr) {
    return 0;
  }
  return SetExisting(subkey, name, REG_BINARY, bytes, kCurrentIdBytes);
}

int RegGetValue(wchar_t* subkey, wchar_t* name, void* buffer, DWORD capacity) {
  if (buffer == nullptr) {
    return 0;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, kReadWriteAccess, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  DWORD type = REG_NONE;
  DWORD bytes = capacity;
  LONG result = RegQueryValueExW(key, name, nullptr, &type,
                                 static_cast<BYTE*>(buffer), &bytes);
  if (result == ERROR_MORE_DATA) {
    // Too long for the caller: read it whole, then hand over what fits.
    // A text is cut to the characters that fit with a terminator.
    std::vector<BYTE> whole(bytes);
    DWORD whole_bytes = bytes;
    result =
        RegQueryValueExW(key, name, nullptr, &type, whole.data(), &whole_bytes);
    if (result == ERROR_SUCCESS) {
      if (type == REG_SZ) {
        const size_t chars = capacity / sizeof(wchar_t);
        if (chars > 0) {
          auto* text = static_cast<wchar_t*>(buffer);
          std::memcpy(text, whole.data(), (chars - 1) * sizeof(wchar_t));
          text[chars - 1] = L'\0';
        }
      } else {
        std::memcpy(buffer, whole.data(), capacity);
      }
    }
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? 1 : 0;
}

int ReportNewMMS(DWORD value) {
  const mms::store::GroupValue group[] = {
      mms::store::DwordValue(mms::store::kNewMms, value)};
  (void)mms::store::WriteStatusGroup(mms::store::kReciveState, group, 1);
  return 1;
}

int ReportSendResult(DWORD value) {
  const mms::store::GroupValue group[] = {
      mms::store::DwordValue(mms::store::kSendOk, value)};
  (void)mms::store::WriteStatusGroup(mms::store::kSendState, group, 1);
  return 1;
}
