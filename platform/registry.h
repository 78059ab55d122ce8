// registry.h: the registry calls of the library (HKEY_LOCAL_MACHINE only),
// kept in the device's registry database (see registry_db.h).
//
// Key and value names ignore letter case. REG_SZ data is kept as UTF-16LE,
// two bytes per code unit, exactly the characters the writer passed (no
// terminator is added); the calls take and give wchar_t text and convert at
// this boundary, so byte counts at the calls are in wchar_t bytes.
// A read into a buffer too small gets ERROR_MORE_DATA and the size needed.
#ifndef MMS_PLATFORM_REGISTRY_H_
#define MMS_PLATFORM_REGISTRY_H_

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/winapi.h"

#define ERROR_MORE_DATA 234u
#define ERROR_REGISTRY_IO_FAILED 1016u
#define ERROR_KEY_DELETED 1018u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

// Creates the key and any missing keys above it, or opens it.
LONG RegCreateKeyExW(HKEY key, const wchar_t* subkey, DWORD reserved,
                     wchar_t* key_class, DWORD options, DWORD access,
                     void* security, HKEY* result, DWORD* disposition);
// Opens an existing key: ERROR_FILE_NOT_FOUND when it is missing.
LONG RegOpenKeyExW(HKEY key, const wchar_t* subkey, DWORD options, DWORD access,
                   HKEY* result);
LONG RegCloseKey(HKEY key);
// Removes the key with its values and every key below it.
LONG RegDeleteKeyW(HKEY key, const wchar_t* subkey);
// ERROR_KEY_DELETED when the key went away after it was opened.
LONG RegSetValueExW(HKEY key, const wchar_t* name, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD bytes);
// data may be null to learn the type and size (*bytes).
LONG RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* bytes);
// Every write is durable when it returns; this only checks the handle.
LONG RegFlushKey(HKEY key);

namespace mms::platform {

// One stored value as kept in the database, for tools and tests.
struct StoredValue {
  std::wstring key;           // key path below HKEY_LOCAL_MACHINE, as spelled
  std::wstring name;          // as spelled by its last writer
  DWORD type;                 // REG_SZ, REG_DWORD, REG_BINARY
  std::vector<uint8_t> data;  // raw: UTF-16LE for REG_SZ
  int64_t seq;                // write sequence; larger is later
};

// One value for SetValuesTogether; the arguments of RegSetValueExW.
struct ValueWrite {
  const wchar_t* name;
  DWORD type;
  const BYTE* data;
  DWORD bytes;
};

// Other rows of the registry database written in the same transaction as
// a group of values; false rolls the whole transaction back.
using AlongWrite = std::function<bool(sqlite3* db)>;

// Writes the values, in order, under the key below HKEY_LOCAL_MACHINE
// (made when missing) in one transaction, after `along` when given: one
// commit, one flush, and a reader sees all of them or none. ERROR_SUCCESS,
// or the error that left the registry as it was (ERROR_REGISTRY_IO_FAILED
// for a database that stayed busy or failed).
[[nodiscard]] LONG SetValuesTogether(const wchar_t* key,
                                     const ValueWrite* values, size_t count,
                                     const AlongWrite& along = nullptr);

// The value name of key read whole, whatever its size: its type and bytes.
// ERROR_SUCCESS, or the error of RegQueryValueExW.
LONG ReadWholeValue(HKEY key, const wchar_t* name, DWORD* type,
                    std::vector<uint8_t>* bytes);

// Values of the key (and of the keys below it), in write order. False when
// the database cannot be read; a missing key gives an empty list.
[[nodiscard]] bool ListStoredValues(const std::wstring& key,
                                    std::vector<StoredValue>* values);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_REGISTRY_H_
