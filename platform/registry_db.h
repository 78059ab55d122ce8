// registry_db.h: the SQLite file that holds the device's registry and its
// pending prompts ("<device root>/registry.db").
//
// Each process keeps one connection (reopened when the device root changes
// or after a fork) and every call runs one short transaction on it, so
// other processes see each write when the call returns; SQLite's locking
// serialises writers. The file runs in WAL mode with synchronous=FULL: a
// committed write survives a crash.
#ifndef MMS_PLATFORM_REGISTRY_DB_H_
#define MMS_PLATFORM_REGISTRY_DB_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mms::platform {

// Host path of the database file under the current device root.
std::string RegistryDbPath();

// Runs once when a device's registry is first laid out, to give a new
// device what it starts with; the connection manager sets it to seed its
// entries. One seed per process; null removes it.
using NewDeviceSeed = void (*)();
void SetNewDeviceSeed(NewDeviceSeed seed);

// The process's connection, held for one call: other threads of the
// process wait until the object goes.
class RegistryDb {
 public:
  RegistryDb();
  ~RegistryDb() = default;
  RegistryDb(const RegistryDb&) = delete;
  RegistryDb& operator=(const RegistryDb&) = delete;

  // Opens (and on first use creates and lays out) the database. False when
  // the file cannot be opened or set up.
  [[nodiscard]] bool Open();
  sqlite3* get() const { return db_; }

  // Runs statements without results; false on any error.
  [[nodiscard]] bool Exec(const char* sql);

 private:
  std::unique_lock<std::mutex> lock_;
  sqlite3* db_ = nullptr;  // the shared connection, borrowed
};

// A prepared statement of a connection; reset and kept for the next
// Statement of the same SQL text when the object goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();

 private:
  sqlite3* db_;
  std::string sql_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Closes a connection with the statements kept for it.
void CloseDatabase(sqlite3* db);

// The file a process-wide connection opened, and the process that opened
// it: tells when the connection must be opened again (another path, the
// file replaced behind it, as when its folder is removed and made again)
// and when it is a forked child's inheritance, never to be used or closed.
class OpenedFile {
 public:
  // True when path still names the file noted.
  bool Current(const std::string& path) const;
  // True in a process other than the one that noted the file.
  bool Inherited() const;
  // Notes path's file as opened by this process; false when it cannot be
  // looked at.
  bool Note(const std::string& path);

 private:
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  pid_t pid_ = 0;
};

// Binds a copy of text at index (1-based).
void BindText(sqlite3_stmt* stmt, int index, const std::string& text);
// The bytes of a blob column of the current row; empty for NULL.
std::vector<uint8_t> ColumnBlob(sqlite3_stmt* stmt, int column);

// BEGIN IMMEDIATE ... COMMIT on a connection; rolled back unless Commit()
// succeeded.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  bool begun() const { return begun_; }
  [[nodiscard]] bool Commit();

 private:
  bool Run(const char* sql);

  sqlite3* db_;
  bool begun_ = false;
  bool done_ = false;
};

}  // namespace mms::platform

#endif  // MMS_PLATFORM_REGISTRY_DB_H_
