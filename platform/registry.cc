// registry.cc: RegCreateKeyExW and friends over the registry database.
//
// An HKEY is a handle-table entry holding the key's path below
// HKEY_LOCAL_MACHINE, so a closed or made-up handle is refused
// (ERROR_INVALID_HANDLE) rather than dereferenced. Every call is one short
// transaction on its own connection: nothing is cached between calls, so
// other processes see each write as soon as the call returns.
#include "platform/registry.h"

#include <cstring>
#include <cwctype>
#include <optional>

#include "platform/handle_table.h"
#include "platform/registry_db.h"
#include "platform/text_convert.h"

namespace mms::platform {

namespace {

constexpr char kUtf16[] = "UTF-16LE";

struct KeyHandle : HandleObject {
  explicit KeyHandle(std::wstring p) : path(std::move(p)) {}
  bool ClosedByCloseHandle() const override { return false; }
  const std::wstring path;  // below HKEY_LOCAL_MACHINE, '\'-separated
};

bool HandlePath(HKEY key, std::wstring* path) {
  if (key == HKEY_LOCAL_MACHINE) {
    path->clear();
    return true;
  }
  std::shared_ptr<KeyHandle> handle =
      LookupHandle<KeyHandle>(reinterpret_cast<HANDLE>(key));
  if (handle == nullptr) {
    return false;
  }
  *path = handle->path;
  return true;
}

HKEY NewHandle(const std::wstring& path) {
  return reinterpret_cast<HKEY>(AddHandle(std::make_shared<KeyHandle>(path)));
}

// base + "\" + subkey with empty components dropped.
std::wstring JoinPath(const std::wstring& base, const wchar_t* subkey) {
  std::wstring joined = base;
  joined += L'\\';
  if (subkey != nullptr) {
    joined += subkey;
  }
  std::wstring out;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find(L'\\', start);
    if (end == std::wstring::npos) {
      end = joined.size();
    }
    if (end > start) {
      if (!out.empty()) {
        out += L'\\';
      }
      out.append(joined, start, end - start);
    }
    start = end + 1;
  }
  return out;
}

std::wstring Fold(const std::wstring& text) {
  std::wstring folded = text;
  for (wchar_t& c : folded) {
    c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  }
  return folded;
}

std::wstring FromUtf8(const unsigned char* text) {
  std::wstring wide;
  if (text != nullptr &&
      !Utf8ToWideText(reinterpret_cast<const char*>(text), &wide)) {
    wide.clear();
  }
  return wide;
}

// Key id by folded UTF-8 path; 0 when missing, -1 on a database error.
int64_t FindKey(RegistryDb& db, const std::string& folded) {
  Statement stmt(db.get(), "SELECT id FROM reg_keys WHERE folded = ?1");
  BindText(stmt.get(), 1, folded);
  const int rc = stmt.Step();
  if (rc == SQLITE_ROW) {
    return sqlite3_column_int64(stmt.get(), 0);
  }
  return rc == SQLITE_DONE ? 0 : -1;
}

bool InsertKey(RegistryDb& db, const std::wstring& path) {
  std::string folded;
  std::string spelled;
  if (!WideToUtf8Text(Fold(path), &folded) || !WideToUtf8Text(path, &spelled)) {
    return false;
  }
  Statement stmt(db.get(),
                 "INSERT OR IGNORE INTO reg_keys(folded, path) "
                 "VALUES(?1, ?2)");
  BindText(stmt.get(), 1, folded);
  BindText(stmt.get(), 2, spelled);
  return stmt.Step() == SQLITE_DONE;
}

// The value's bytes as stored: REG_SZ becomes UTF-16LE.
LONG ToStored(DWORD type, const BYTE* data, DWORD bytes, std::string* stored) {
  if (data == nullptr && bytes != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  if (type == REG_DWORD && bytes != sizeof(DWORD)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (type != REG_SZ) {
    stored->assign(reinterpret_cast<const char*>(data), bytes);
    return ERROR_SUCCESS;
  }
  // The caller's buffer may be unaligned: copy it into wchar_t first.
  std::wstring text(bytes / sizeof(wchar_t), L'\0');
  if (!text.empty()) {
    std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
  }
  if (ConvertText(kWideCharset, kUtf16, text.data(),
                  text.size() * sizeof(wchar_t),
                  stored) != ConvertResult::kOk) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  return ERROR_SUCCESS;
}

// The value's bytes as a reader gets them: REG_SZ becomes wchar_t.
LONG FromStored(DWORD type, const void* blob, size_t size, std::string* out) {
  if (size == 0) {
    out->clear();
    return ERROR_SUCCESS;
  }
  if (type != REG_SZ) {
    out->assign(static_cast<const char*>(blob), size);
    return ERROR_SUCCESS;
  }
  const size_t even = size - size % 2;  // a stray last byte is no code unit
  if (ConvertText(kUtf16, kWideCharset, blob, even, out) !=
      ConvertResult::kOk) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  return ERROR_SUCCESS;
}

// Where subkey lies below key: its path as spelled and its folded UTF-8
// form for lookups. ERROR_INVALID_HANDLE for a bad key handle, and
// `unconvertible` for a path that has no UTF-8 form.
LONG ResolveSubkey(HKEY key, const wchar_t* subkey, LONG unconvertible,
                   std::wstring* path, std::string* folded) {
  std::wstring base;
  if (!HandlePath(key, &base)) {
    return ERROR_INVALID_HANDLE;
  }
  *path = JoinPath(base, subkey);
  return WideToUtf8Text(Fold(*path), folded) ? ERROR_SUCCESS : unconvertible;
}

// A value converted to its stored form, ready for Upsert.
struct PreparedValue {
  std::string folded_name;
  std::string spelled_name;
  DWORD type = REG_NONE;
  std::string stored;
};

LONG Prepare(const ValueWrite& write, PreparedValue* value) {
  const std::wstring name = write.name != nullptr ? write.name : L"";
  const LONG converted =
      ToStored(write.type, write.data, write.bytes, &value->stored);
  if (converted != ERROR_SUCCESS) {
    return converted;
  }
  if (!WideToUtf8Text(Fold(name), &value->folded_name) ||
      !WideToUtf8Text(name, &value->spelled_name)) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  value->type = write.type;
  return ERROR_SUCCESS;
}

// Inside a write transaction: the value under key_id, taking the next
// write sequence.
bool Upsert(RegistryDb& db, int64_t key_id, const PreparedValue& value) {
  Statement stmt(db.get(),
                 "INSERT INTO reg_values(key_id, folded, name, type, data, "
                 "seq) VALUES(?1, ?2, ?3, ?4, ?5, "
                 "  (SELECT COALESCE(MAX(seq), 0) + 1 FROM reg_values)) "
                 "ON CONFLICT(key_id, folded) DO UPDATE SET "
                 "  name = excluded.name, type = excluded.type, "
                 "  data = excluded.data, seq = excluded.seq");
  sqlite3_bind_int64(stmt.get(), 1, key_id);
  BindText(stmt.get(), 2, value.folded_name);
  BindText(stmt.get(), 3, value.spelled_name);
  sqlite3_bind_int64(stmt.get(), 4, value.type);
  sqlite3_bind_blob(stmt.get(), 5, value.stored.data(),
                    static_cast<int>(value.stored.size()), SQLITE_TRANSIENT);
  return stmt.Step() == SQLITE_DONE;
}

// Inside a write transaction: the key's id, made with every missing key
// on the way down; -1 on a database error.
int64_t MakeKey(RegistryDb& db, const std::wstring& path,
                const std::string& folded) {
  int64_t id = FindKey(db, folded);
  if (id != 0) {
    return id;
  }
  for (size_t cut = path.find(L'\\'); cut != std::wstring::npos;
       cut = path.find(L'\\', cut + 1)) {
    if (!InsertKey(db, path.substr(0, cut))) {
      return -1;
    }
  }
  if (!InsertKey(db, path)) {
    return -1;
  }
  id = FindKey(db, folded);
  return id > 0 ? id : -1;
}

// One write under a key: the database, its write transaction and the
// key's id, found (or made) inside the transaction. Rolled back unless
// committed.
class KeyWrite {
 public:
  // ERROR_SUCCESS with the key found, or made with every missing key on
  // the way down when make_key; `missing` when it is not there.
  LONG Begin(const std::wstring& path, const std::string& folded, bool make_key,
             LONG missing) {
    if (!db_.Open() || !txn_.emplace(db_.get()).begun()) {
      return ERROR_REGISTRY_IO_FAILED;
    }
    id_ = make_key ? MakeKey(db_, path, folded) : FindKey(db_, folded);
    if (id_ <= 0) {
      return id_ == 0 ? missing : ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
  }
  RegistryDb& db() { return db_; }
  int64_t id() const { return id_; }
  LONG Commit() {
    return txn_->Commit() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
  }

 private:
  RegistryDb db_;
  std::optional<WriteTransaction> txn_;  // ends before db_ goes
  int64_t id_ = 0;
};

// Writes values under a key in one transaction: all of them or none. A
// missing key is made when make_key, else refused as deleted.
LONG WriteValues(const std::wstring& path, const std::string& folded,
                 bool make_key, const std::vector<PreparedValue>& values,
                 const AlongWrite& along = nullptr) {
  KeyWrite write;
  if (const LONG error = write.Begin(path, folded, make_key, ERROR_KEY_DELETED);
      error != ERROR_SUCCESS) {
    return error;
  }
  if (along && !along(write.db().get())) {
    return ERROR_REGISTRY_IO_FAILED;  // rolled back: nothing written
  }
  for (const PreparedValue& value : values) {
    if (!Upsert(write.db(), write.id(), value)) {
      return ERROR_REGISTRY_IO_FAILED;  // rolled back: nothing written
    }
  }
  return write.Commit();
}

}  // namespace

bool ListStoredValues(const std::wstring& key,
                      std::vector<StoredValue>* values) {
  values->clear();
  RegistryDb db;
  std::string folded;
  if (!db.Open() ||
      !WideToUtf8Text(Fold(JoinPath(L"", key.c_str())), &folded)) {
    return false;
  }
  Statement stmt(db.get(),
                 "SELECT k.path, v.name, v.type, v.data, v.seq "
                 "FROM reg_values v JOIN reg_keys k ON k.id = v.key_id "
                 "WHERE k.folded = ?1 OR ?1 = '' OR "
                 "  substr(k.folded, 1, length(?1) + 1) = ?1 || '\\' "
                 "ORDER BY v.seq");
  BindText(stmt.get(), 1, folded);
  int rc;
  while ((rc = stmt.Step()) == SQLITE_ROW) {
    sqlite3_stmt* s = stmt.get();
    StoredValue value;
    value.key = FromUtf8(sqlite3_column_text(s, 0));
    value.name = FromUtf8(sqlite3_column_text(s, 1));
    value.type = static_cast<DWORD>(sqlite3_column_int64(s, 2));
    value.data = ColumnBlob(s, 3);
    value.seq = sqlite3_column_int64(s, 4);
    values->push_back(std::move(value));
  }
  return rc == SQLITE_DONE;
}

LONG SetValuesTogether(const wchar_t* key, const ValueWrite* values,
                       size_t count, const AlongWrite& along) {
  std::wstring path;
  std::string folded;
  if (const LONG error =
          ResolveSubkey(HKEY_LOCAL_MACHINE, key, ERROR_NO_UNICODE_TRANSLATION,
                        &path, &folded);
      error != ERROR_SUCCESS) {
    return error;
  }
  std::vector<PreparedValue> prepared(count);
  for (size_t i = 0; i < count; ++i) {
    if (const LONG error = Prepare(values[i], &prepared[i]);
        error != ERROR_SUCCESS) {
      return error;
    }
  }
  return WriteValues(path, folded, true, prepared, along);
}

}  // namespace mms::platform

using mms::platform::RegistryDb;
using mms::platform::Statement;
using mms::platform::WriteTransaction;

LONG RegCreateKeyExW(HKEY key, const wchar_t* subkey, DWORD /*reserved*/,
                     wchar_t* /*key_class*/, DWORD /*options*/,
                     DWORD /*access*/, void* /*security*/, HKEY* result,
                     DWORD* disposition) {
  using namespace mms::platform;
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::wstring path;
  std::string folded;
  if (LONG error = ResolveSubkey(key, subkey, ERROR_NO_UNICODE_TRANSLATION,
                                 &path, &folded);
      error != ERROR_SUCCESS) {
    return error;
  }
  RegistryDb db;
  if (!db.Open()) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  // The usual case, an existing key, needs no write lock.
  int64_t existing = FindKey(db, folded);
  std::optional<WriteTransaction> txn;
  if (existing == 0) {
    txn.emplace(db.get());
    if (!txn->begun()) {
      return ERROR_REGISTRY_IO_FAILED;
    }
    existing = FindKey(db, folded);
  }
  if (existing < 0) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  const int64_t made = existing == 0 ? MakeKey(db, path, folded) : existing;
  if (made < 0) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  if (txn.has_value() && !txn->Commit()) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  if (disposition != nullptr) {
    *disposition =
        existing == 0 ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  *result = NewHandle(path);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, const wchar_t* subkey, DWORD /*options*/,
                   DWORD /*access*/, HKEY* result) {
  using namespace mms::platform;
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::wstring path;
  std::string folded;
  if (LONG error =
          ResolveSubkey(key, subkey, ERROR_FILE_NOT_FOUND, &path, &folded);
      error != ERROR_SUCCESS) {
    return error;
  }
  RegistryDb db;
  if (!db.Open()) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  const int64_t id = FindKey(db, folded);
  if (id < 0) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  if (id == 0) {
    return ERROR_FILE_NOT_FOUND;
  }
  *result = NewHandle(path);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  using namespace mms::platform;
  if (key == HKEY_LOCAL_MACHINE) {
    return ERROR_SUCCESS;
  }
  return TakeHandle<KeyHandle>(reinterpret_cast<HANDLE>(key)) == nullptr
             ? ERROR_INVALID_HANDLE
             : ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, const wchar_t* subkey) {
  using namespace mms::platform;
  std::wstring path;
  std::string folded;
  if (LONG error =
          ResolveSubkey(key, subkey, ERROR_FILE_NOT_FOUND, &path, &folded);
      error != ERROR_SUCCESS) {
    return error;
  }
  if (path.empty()) {
    return ERROR_ACCESS_DENIED;  // HKEY_LOCAL_MACHINE itself stays
  }
  KeyWrite write;
  if (const LONG error = write.Begin(path, folded, false, ERROR_FILE_NOT_FOUND);
      error != ERROR_SUCCESS) {
    return error;
  }
  constexpr char kUnder[] =
      "folded = ?1 OR substr(folded, 1, length(?1) + 1) = ?1 || '\\'";
  const std::string delete_values =
      std::string(
          "DELETE FROM reg_values WHERE key_id IN "
          "(SELECT id FROM reg_keys WHERE ") +
      kUnder + ")";
  const std::string delete_keys =
      std::string("DELETE FROM reg_keys WHERE ") + kUnder;
  Statement values(write.db().get(), delete_values.c_str());
  BindText(values.get(), 1, folded);
  if (values.Step() != SQLITE_DONE) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  Statement keys(write.db().get(), delete_keys.c_str());
  BindText(keys.get(), 1, folded);
  if (keys.Step() != SQLITE_DONE) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  return write.Commit();
}

LONG RegSetValueExW(HKEY key, const wchar_t* name, DWORD /*reserved*/,
                    DWORD type, const BYTE* data, DWORD bytes) {
  using namespace mms::platform;
  std::wstring path;
  if (!HandlePath(key, &path)) {
    return ERROR_INVALID_HANDLE;
  }
  std::string folded_key;
  if (!WideToUtf8Text(Fold(path), &folded_key)) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  std::vector<PreparedValue> value(1);
  if (const LONG error =
          Prepare(ValueWrite{name, type, data, bytes}, &value[0]);
      error != ERROR_SUCCESS) {
    return error;
  }
  return WriteValues(path, folded_key, false, value);
}

LONG RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* /*reserved*/,
                      DWORD* type, BYTE* data, DWORD* bytes) {
  using namespace mms::platform;
  std::wstring path;
  if (!HandlePath(key, &path)) {
    return ERROR_INVALID_HANDLE;
  }
  if (data != nullptr && bytes == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::string folded_key;
  std::string folded_name;
  if (!WideToUtf8Text(Fold(path), &folded_key) ||
      !WideToUtf8Text(Fold(name != nullptr ? name : L""), &folded_name)) {
    return ERROR_FILE_NOT_FOUND;
  }
  RegistryDb db;
  if (!db.Open()) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  // One statement, so key and value come from the same snapshot.
  Statement stmt(db.get(),
                 "SELECT v.type, v.data FROM reg_keys k LEFT JOIN reg_values v "
                 "  ON v.key_id = k.id AND v.folded = ?2 "
                 "WHERE k.folded = ?1");
  BindText(stmt.get(), 1, folded_key);
  BindText(stmt.get(), 2, folded_name);
  const int rc = stmt.Step();
  if (rc == SQLITE_DONE) {
    return ERROR_KEY_DELETED;
  }
  if (rc != SQLITE_ROW) {
    return ERROR_REGISTRY_IO_FAILED;
  }
  if (sqlite3_column_type(stmt.get(), 0) == SQLITE_NULL) {
    return ERROR_FILE_NOT_FOUND;
  }
  const auto value_type =
      static_cast<DWORD>(sqlite3_column_int64(stmt.get(), 0));
  std::string out;
  const LONG converted = FromStored(
      value_type, sqlite3_column_blob(stmt.get(), 1),
      static_cast<size_t>(sqlite3_column_bytes(stmt.get(), 1)), &out);
  if (converted != ERROR_SUCCESS) {
    return converted;
  }
  if (type != nullptr) {
    *type = value_type;
  }
  if (bytes == nullptr) {
    return ERROR_SUCCESS;
  }
  const DWORD capacity = *bytes;
  *bytes = static_cast<DWORD>(out.size());
  if (data == nullptr) {
    return ERROR_SUCCESS;
  }
  if (out.size() > capacity) {
    return ERROR_MORE_DATA;
  }
  if (!out.empty()) {
    std::memcpy(data, out.data(), out.size());
  }
  return ERROR_SUCCESS;
}

LONG mms::platform::ReadWholeValue(HKEY key, const wchar_t* name, DWORD* type,
                                   std::vector<uint8_t>* bytes) {
  DWORD size = 0;
  LONG result = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
  if (result == ERROR_SUCCESS) {
    bytes->assign(size, 0);
    result = RegQueryValueExW(key, name, nullptr, type, bytes->data(), &size);
    bytes->resize(size);
  }
  return result;
}

LONG RegFlushKey(HKEY key) {
  std::wstring path;
  return mms::platform::HandlePath(key, &path) ? ERROR_SUCCESS
                                               : ERROR_INVALID_HANDLE;
}
