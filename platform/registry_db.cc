// registry_db.cc: opening and laying out the registry database.
//
// The layout is made once per file, inside an immediate transaction that
// re-checks user_version, so two processes opening a new root at the same
// moment lay it out exactly once. The installer's key is part of that
// layout; a removed key stays removed afterwards.
#include "platform/registry_db.h"

#include "platform/connmgr_entries.h"
#include "platform/device_fs.h"

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

}  // namespace

std::string RegistryDbPath() { return DeviceRoot() + "/registry.db"; }

RegistryDb::~RegistryDb() {
  if (db_ != nullptr) {
    sqlite3_close_v2(db_);
  }
}

bool RegistryDb::Open() {
  const std::string path = RegistryDbPath();
  if (sqlite3_open_v2(
          path.c_str(), &db_,
          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
          nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // Connections are short-lived: checkpointing and removing the WAL on
  // every close would cost several syncs per call. SQLite's automatic
  // checkpoints keep the WAL small instead.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  int persist = 1;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;")) {
    return false;
  }
  const int version = UserVersion(db_);
  if (version == kLayoutVersion) {
    return true;
  }
  if (version < 0) {
    return false;
  }
  WriteTransaction txn(this);
  if (!txn.begun()) {
    return false;
  }
  if (UserVersion(db_) == kLayoutVersion) {
    return true;  // another process laid it out first
  }
  if (!Exec(kLayout) || !txn.Commit()) {
    return false;
  }
  // Outside the layout transaction: the seed writes through the registry
  // calls, each on its own connection.
  connmgr::SeedNewDevice();
  return true;
}

bool RegistryDb::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Statement::Statement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

int Statement::Step() {
  if (stmt_ == nullptr) {
    return SQLITE_MISUSE;
  }
  return sqlite3_step(stmt_);
}

WriteTransaction::WriteTransaction(RegistryDb* db) : db_(db) {
  begun_ = db_->Exec("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
  if (begun_ && !done_) {
    (void)db_->Exec("ROLLBACK");
  }
}

bool WriteTransaction::Commit() {
  done_ = db_->Exec("COMMIT");
  return done_;
}

}  // namespace mms::platform
