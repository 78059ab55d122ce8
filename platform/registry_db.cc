// registry_db.cc: opening and laying out the registry database.
//
// The layout is made once per file, inside an immediate transaction that
// re-checks user_version, so two processes opening a new root at the same
// moment lay it out exactly once. The installer's key is part of that
// layout; a removed key stays removed afterwards.
#include "platform/registry_db.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <unordered_map>

#include "platform/device_fs.h"
#include "platform/sqlite_wait.h"

namespace mms::platform {

namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr int kLayoutVersion = 1;

// Keys hold their path below HKEY_LOCAL_MACHINE twice: as spelled when
// created, and case-folded for lookups. Values keep the write sequence so
// that readers (and tests) can see the order in which they were written.
constexpr char kLayout[] =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    "  id INTEGER PRIMARY KEY,"
    "  folded TEXT NOT NULL UNIQUE,"
    "  path TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  key_id INTEGER NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  name TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  seq INTEGER NOT NULL,"
    "  PRIMARY KEY(key_id, folded));"
    "CREATE INDEX IF NOT EXISTS reg_values_seq ON reg_values(seq);"
    "CREATE TABLE IF NOT EXISTS prompts("
    "  id INTEGER PRIMARY KEY,"
    "  pid INTEGER NOT NULL,"
    "  caption TEXT NOT NULL,"
    "  text TEXT NOT NULL,"
    "  shown_at INTEGER NOT NULL,"
    "  answered INTEGER NOT NULL DEFAULT 0);"
    // What an installer leaves behind: the library's own key.
    "INSERT OR IGNORE INTO reg_keys(folded, path) VALUES"
    "  ('', ''),"  // HKEY_LOCAL_MACHINE itself
    "  ('software', 'SOFTWARE'),"
    "  ('software\\varnholt', 'SOFTWARE\\Varnholt'),"
    "  ('software\\varnholt\\mms', 'SOFTWARE\\Varnholt\\MMS');"
    "PRAGMA user_version = 1;";

int UserVersion(sqlite3* db) {
  Statement stmt(db, "PRAGMA user_version");
  if (!stmt.ok() || stmt.Step() != SQLITE_ROW) {
    return -1;
  }
  return sqlite3_column_int(stmt.get(), 0);
}

std::mutex g_mu;
sqlite3* g_db = nullptr;  // guarded by g_mu
OpenedFile g_file;        // guarded by g_mu; what g_db opened
std::atomic<NewDeviceSeed> g_seed{nullptr};

bool ExecOn(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A new connection to path, laid out on first use (*laid_out says whether
// this call did it); null on failure.
sqlite3* OpenAndLayOut(const std::string& path, bool* laid_out) {
  *laid_out = false;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(
          path.c_str(), &db,
          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
          nullptr) != SQLITE_OK) {
    CloseDatabase(db);
    return nullptr;
  }
  SetBusyWait(db, kBusyTimeoutMs);
  bool ok =
      UseWal(db, kBusyTimeoutMs) && ExecOn(db, "PRAGMA synchronous=FULL;");
  int version = ok ? UserVersion(db) : -1;
  if (version >= 0 && version != kLayoutVersion) {
    ok = ExecOn(db, "BEGIN IMMEDIATE");
    if (ok && UserVersion(db) != kLayoutVersion) {
      ok = ExecOn(db, kLayout);  // another process may have laid it out
      *laid_out = ok;
    }
    ok = ok && ExecOn(db, "COMMIT");
    if (!ok) {
      (void)ExecOn(db, "ROLLBACK");
    }
    version = ok ? kLayoutVersion : -1;
  }
  if (version != kLayoutVersion) {
    CloseDatabase(db);
    return nullptr;
  }
  return db;
}

}  // namespace

std::string RegistryDbPath() { return DeviceRoot() + "/registry.db"; }

void SetNewDeviceSeed(NewDeviceSeed seed) { g_seed.store(seed); }

RegistryDb::RegistryDb() : lock_(g_mu) {}

bool RegistryDb::Open() {
  const std::string path = RegistryDbPath();
  if (g_db != nullptr && g_file.Inherited()) {
    g_db = nullptr;  // the parent's connection: never used, never closed
  }
  // Another root, or the file replaced behind the connection: writes
  // through the old one would be lost.
  if (g_db != nullptr && !g_file.Current(path)) {
    CloseDatabase(g_db);
    g_db = nullptr;
  }
  bool laid_out = false;
  if (g_db == nullptr) {
    sqlite3* db = OpenAndLayOut(path, &laid_out);
    if (db == nullptr || !g_file.Note(path)) {
      CloseDatabase(db);
      return false;
    }
    g_db = db;
  }
  if (laid_out) {
    // The seed writes through the registry calls, which take the
    // connection themselves: let go of it meanwhile.
    lock_.unlock();
    if (const NewDeviceSeed seed = g_seed.load()) {
      seed();
    }
    lock_.lock();
    if (g_db == nullptr || !g_file.Current(path)) {
      return false;  // another thread moved the connection meanwhile
    }
  }
  if (sqlite3_get_autocommit(g_db) == 0) {
    (void)ExecOn(g_db, "ROLLBACK");  // left open by a failed call
  }
  db_ = g_db;
  return true;
}

bool RegistryDb::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

namespace {

// Prepared statements kept per connection and SQL text between uses:
// preparing parses the SQL again each time, about as costly as the short
// statement itself. A statement in use is out of the cache, so two live
// Statements never share one.
struct StatementCache {
  std::mutex mu;
  std::unordered_map<sqlite3*, std::unordered_map<std::string, sqlite3_stmt*>>
      by_db;  // guarded by mu
};

StatementCache& Cache() {
  static StatementCache* cache = new StatementCache;  // used at exit
  return *cache;
}

constexpr size_t kCachedPerConnection = 64;

}  // namespace

Statement::Statement(sqlite3* db, const char* sql) : db_(db), sql_(sql) {
  {
    StatementCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mu);
    auto of_db = cache.by_db.find(db);
    if (of_db != cache.by_db.end()) {
      auto it = of_db->second.find(sql_);
      if (it != of_db->second.end()) {
        stmt_ = it->second;
        of_db->second.erase(it);
        return;
      }
    }
  }
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() {
  if (stmt_ == nullptr) {
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  {
    StatementCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mu);
    auto& of_db = cache.by_db[db_];
    if (of_db.size() < kCachedPerConnection &&
        of_db.emplace(sql_, stmt_).second) {
      return;
    }
  }
  sqlite3_finalize(stmt_);
}

void CloseDatabase(sqlite3* db) {
  if (db == nullptr) {
    return;
  }
  std::unordered_map<std::string, sqlite3_stmt*> cached;
  {
    StatementCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mu);
    auto it = cache.by_db.find(db);
    if (it != cache.by_db.end()) {
      cached.swap(it->second);
      cache.by_db.erase(it);
    }
  }
  for (const auto& entry : cached) {
    sqlite3_finalize(entry.second);
  }
  sqlite3_close_v2(db);
}

int Statement::Step() {
  if (stmt_ == nullptr) {
    return SQLITE_MISUSE;
  }
  return sqlite3_step(stmt_);
}

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

std::vector<uint8_t> ColumnBlob(sqlite3_stmt* stmt, int column) {
  const auto* bytes =
      static_cast<const uint8_t*>(sqlite3_column_blob(stmt, column));
  const int size = sqlite3_column_bytes(stmt, column);
  return bytes == nullptr ? std::vector<uint8_t>()
                          : std::vector<uint8_t>(bytes, bytes + size);
}

bool OpenedFile::Current(const std::string& path) const {
  struct stat st;
  return path == path_ && stat(path.c_str(), &st) == 0 && st.st_dev == dev_ &&
         st.st_ino == ino_;
}

bool OpenedFile::Inherited() const { return pid_ != getpid(); }

bool OpenedFile::Note(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    return false;
  }
  path_ = path;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  pid_ = getpid();
  return true;
}

WriteTransaction::WriteTransaction(sqlite3* db) : db_(db) {
  begun_ = Run("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
  if (begun_ && !done_) {
    (void)Run("ROLLBACK");
  }
}

bool WriteTransaction::Commit() {
  done_ = Run("COMMIT");
  return done_;
}

bool WriteTransaction::Run(const char* sql) {
  Statement stmt(db_, sql);
  return stmt.Step() == SQLITE_DONE;
}

}  // namespace mms::platform
