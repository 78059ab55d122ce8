// push_store.cc: the push router's SQLite file and its queries.
//
// The SQL function alive(pid, start) lets one statement treat pushes taken
// by ended processes as free again, so a crashed listener never strands a
// push. Content types are matched in folded (lower-case ASCII) form.
#include "pushrouter/push_store.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/device_fs.h"
#include "platform/registry_db.h"
#include "platform/sqlite_wait.h"
#include "pushrouter/push_datagram.h"

namespace mms::pushrouter {

using platform::BindText;
using platform::ColumnBlob;
using platform::DeviceRoot;
using platform::SetBusyWait;
using platform::Statement;
using platform::WriteTransaction;

namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr int kLayoutVersion = 2;

constexpr char kLayout[] =
    "CREATE TABLE IF NOT EXISTS registrations("
    "  folded TEXT NOT NULL,"
    "  app_id TEXT NOT NULL,"
    "  content_type TEXT NOT NULL,"
    "  program TEXT NOT NULL,"
    "  params TEXT NOT NULL,"
    "  PRIMARY KEY(folded, app_id));"
    "CREATE TABLE IF NOT EXISTS queue("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  folded TEXT NOT NULL,"
    "  headers BLOB NOT NULL,"
    "  body BLOB NOT NULL,"
    "  sender TEXT NOT NULL,"
    "  arrived_at INTEGER NOT NULL,"
    "  taken_pid INTEGER,"
    "  taken_start INTEGER);"
    "CREATE INDEX IF NOT EXISTS queue_by_type ON queue(folded, id);"
    "CREATE TABLE IF NOT EXISTS holds("
    "  folded TEXT PRIMARY KEY,"
    "  pid INTEGER NOT NULL,"
    "  start INTEGER NOT NULL,"
    "  session INTEGER NOT NULL,"
    "  notify_port INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS counters("
    "  name TEXT PRIMARY KEY,"
    "  count INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS router("
    "  id INTEGER PRIMARY KEY CHECK(id = 1),"
    "  pid INTEGER NOT NULL,"
    "  start INTEGER NOT NULL,"
    "  address TEXT NOT NULL,"
    "  port INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS handovers("
    "  key TEXT PRIMARY KEY,"
    "  at INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS bridge("
    "  id INTEGER PRIMARY KEY CHECK(id = 1),"
    "  pid INTEGER NOT NULL,"
    "  start INTEGER NOT NULL);";
// Keys of handed-over pushes are kept this long (seconds); a modem holds an
// SMS for far less.
constexpr int64_t kHandoverMemory = 30 * 24 * 3600;

// A push counts as free when nobody took it or its taker has ended.
constexpr char kFree[] =
    "(taken_pid IS NULL OR NOT alive(taken_pid, taken_start))";

void AliveFunction(sqlite3_context* context, int /*argc*/,
                   sqlite3_value** argv) {
  const int64_t pid = sqlite3_value_int64(argv[0]);
  const int64_t start = sqlite3_value_int64(argv[1]);
  const bool lives =
      pid > 0 && pid <= 0x7FFFFFFF &&
      ProcessLives(static_cast<uint32_t>(pid), static_cast<uint64_t>(start));
  sqlite3_result_int(context, lives ? 1 : 0);
}

void BindBlob(sqlite3_stmt* stmt, int index, const std::vector<uint8_t>& b) {
  // A zero-length blob still binds as a blob, never as NULL.
  static const uint8_t kEmpty = 0;
  sqlite3_bind_blob(stmt, index, b.empty() ? &kEmpty : b.data(),
                    static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text =
      reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text == nullptr
             ? std::string()
             : std::string(text, static_cast<size_t>(
                                     sqlite3_column_bytes(stmt, column)));
}

bool StepDone(Statement* stmt) { return stmt->Step() == SQLITE_DONE; }

int LayoutVersion(sqlite3* db) {
  Statement stmt(db, "PRAGMA user_version");
  if (!stmt.ok() || stmt.Step() != SQLITE_ROW) {
    return -1;
  }
  return sqlite3_column_int(stmt.get(), 0);
}

}  // namespace

namespace {

// State and start time of a process from /proc/<which>/stat; false when it
// is gone. The name in parentheses may hold anything, so fields are
// counted from the last ')': state is field 3, start time field 22.
bool ReadStat(const std::string& which, std::string* state, uint64_t* start) {
  std::ifstream stat("/proc/" + which + "/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return false;
  }
  const size_t close = line.rfind(')');
  if (close == std::string::npos) {
    return false;
  }
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 3) {
      *state = field;
    }
    if (i == 22) {
      *start = std::strtoull(field.c_str(), nullptr, 10);
      return true;
    }
  }
  return false;
}

}  // namespace

ProcessId SelfProcess() {
  // Read again in a forked child, which must not carry its parent's
  // identity; a process's own start time never changes.
  static std::mutex mu;
  static ProcessId self;  // guarded by mu
  const auto pid = static_cast<uint32_t>(getpid());
  std::lock_guard<std::mutex> lock(mu);
  if (self.pid != pid || self.start == 0) {
    self = ProcessOf(pid);
  }
  return self;
}

ProcessId ProcessOf(uint32_t pid) {
  ProcessId id;
  id.pid = pid;
  std::string state;
  if (!ReadStat(std::to_string(pid), &state, &id.start)) {
    id.start = 0;
  }
  return id;
}

bool ProcessLives(uint32_t pid, uint64_t start) {
  const ProcessId self = SelfProcess();
  if (pid == self.pid && self.start != 0) {
    return start == self.start;  // this process: no need to look
  }
  std::string state;
  uint64_t actual = 0;
  if (pid == 0 || !ReadStat(std::to_string(pid), &state, &actual)) {
    return false;
  }
  // A zombie has ended and only waits to be reaped.
  return actual == start && state != "Z" && state != "X";
}

std::string PushStorePath() { return DeviceRoot() + "/pushrouter.db"; }

PushStore::~PushStore() {
  if (db_ != nullptr) {
    platform::CloseDatabase(db_);
  }
}

bool PushStore::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool PushStore::Open(const std::string& path) {
  if (sqlite3_open_v2(
          path.c_str(), &db_,
          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
          nullptr) != SQLITE_OK) {
    return false;
  }
  SetBusyWait(db_, kBusyTimeoutMs);
  if (sqlite3_create_function(db_, "alive", 2, SQLITE_UTF8, nullptr,
                              AliveFunction, nullptr, nullptr) != SQLITE_OK) {
    return false;
  }
  // Checkpoints (two fsyncs each) every 10,000 pages rather than 1,000: a
  // burst rewrites the same few queue pages, so each copies about as
  // much either way.
  if (!platform::UseWal(db_, kBusyTimeoutMs) ||
      !Exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=10000;")) {
    return false;
  }
  if (LayoutVersion(db_) == kLayoutVersion) {
    return true;  // the usual case: no write lock just to open
  }
  WriteTransaction txn(db_);
  return txn.begun() && Exec(kLayout) && Exec("PRAGMA user_version = 2") &&
         txn.Commit();
}

StoreResult PushStore::Register(const Registration& reg) {
  Statement stmt(db_,
                 "INSERT OR IGNORE INTO registrations(folded, app_id, "
                 "content_type, program, params) VALUES(?, ?, ?, ?, ?)");
  if (!stmt.ok()) {
    return StoreResult::kFailed;
  }
  BindText(stmt.get(), 1, FoldContentType(reg.content_type));
  BindText(stmt.get(), 2, reg.app_id);
  BindText(stmt.get(), 3, reg.content_type);
  BindText(stmt.get(), 4, reg.program);
  BindText(stmt.get(), 5, reg.params);
  if (!StepDone(&stmt)) {
    return StoreResult::kFailed;
  }
  return sqlite3_changes(db_) == 1 ? StoreResult::kOk : StoreResult::kExists;
}

StoreResult PushStore::Unregister(const std::string& content_type,
                                  const std::string& app_id) {
  Statement stmt(db_,
                 "DELETE FROM registrations WHERE folded = ? AND app_id = ?");
  if (!stmt.ok()) {
    return StoreResult::kFailed;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  BindText(stmt.get(), 2, app_id);
  if (!StepDone(&stmt)) {
    return StoreResult::kFailed;
  }
  return sqlite3_changes(db_) == 1 ? StoreResult::kOk : StoreResult::kMissing;
}

bool PushStore::FindRegistration(const std::string& content_type,
                                 Registration* reg, bool* found) {
  Statement stmt(db_,
                 "SELECT content_type, app_id, program, params FROM "
                 "registrations WHERE folded = ? ORDER BY rowid LIMIT 1");
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  const int rc = stmt.Step();
  *found = rc == SQLITE_ROW;
  if (*found) {
    reg->content_type = ColumnText(stmt.get(), 0);
    reg->app_id = ColumnText(stmt.get(), 1);
    reg->program = ColumnText(stmt.get(), 2);
    reg->params = ColumnText(stmt.get(), 3);
  }
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool PushStore::HasRegistration(const std::string& content_type,
                                const std::string& app_id, bool* found) {
  Statement stmt(db_,
                 "SELECT 1 FROM registrations WHERE folded = ? AND app_id = ?");
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  BindText(stmt.get(), 2, app_id);
  const int rc = stmt.Step();
  *found = rc == SQLITE_ROW;
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

StoreResult PushStore::Hold(const std::string& content_type,
                            const ProcessId& self, int64_t session,
                            int notify_port) {
  const std::string folded = FoldContentType(content_type);
  WriteTransaction txn(db_);
  if (!txn.begun()) {
    return StoreResult::kFailed;
  }
  {
    Statement holder(db_, "SELECT pid, start FROM holds WHERE folded = ?");
    if (!holder.ok()) {
      return StoreResult::kFailed;
    }
    BindText(holder.get(), 1, folded);
    if (holder.Step() == SQLITE_ROW) {
      const auto pid =
          static_cast<uint32_t>(sqlite3_column_int64(holder.get(), 0));
      const auto start =
          static_cast<uint64_t>(sqlite3_column_int64(holder.get(), 1));
      const bool mine = pid == self.pid && start == self.start;
      if (!mine && ProcessLives(pid, start)) {
        return StoreResult::kHeldElsewhere;
      }
    }
  }
  Statement hold(db_,
                 "INSERT OR REPLACE INTO holds(folded, pid, start, session, "
                 "notify_port) VALUES(?, ?, ?, ?, ?)");
  if (!hold.ok()) {
    return StoreResult::kFailed;
  }
  BindText(hold.get(), 1, folded);
  sqlite3_bind_int64(hold.get(), 2, self.pid);
  sqlite3_bind_int64(hold.get(), 3, static_cast<int64_t>(self.start));
  sqlite3_bind_int64(hold.get(), 4, session);
  sqlite3_bind_int(hold.get(), 5, notify_port);
  // A hold taken over from an earlier session of this process: what that
  // session took but never freed is handed out again.
  if (!StepDone(&hold) || !ReturnTaken(content_type, self) || !txn.Commit()) {
    return StoreResult::kFailed;
  }
  return StoreResult::kOk;
}

bool PushStore::Release(const std::string& content_type, const ProcessId& self,
                        int64_t session) {
  Statement stmt(db_,
                 "DELETE FROM holds WHERE folded = ? AND pid = ? AND "
                 "start = ? AND session = ?");
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  sqlite3_bind_int64(stmt.get(), 2, self.pid);
  sqlite3_bind_int64(stmt.get(), 3, static_cast<int64_t>(self.start));
  sqlite3_bind_int64(stmt.get(), 4, session);
  return StepDone(&stmt);
}

bool PushStore::ReturnTaken(const std::string& content_type,
                            const ProcessId& self) {
  Statement stmt(db_,
                 "UPDATE queue SET taken_pid = NULL, taken_start = NULL "
                 "WHERE folded = ? AND taken_pid = ? AND taken_start = ?");
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  sqlite3_bind_int64(stmt.get(), 2, self.pid);
  sqlite3_bind_int64(stmt.get(), 3, static_cast<int64_t>(self.start));
  return StepDone(&stmt);
}

bool PushStore::LiveHolderPort(const std::string& content_type, int* port) {
  Statement stmt(db_,
                 "SELECT notify_port FROM holds WHERE folded = ? AND "
                 "alive(pid, start)");
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  const int rc = stmt.Step();
  *port = rc == SQLITE_ROW ? sqlite3_column_int(stmt.get(), 0) : 0;
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool PushStore::Enqueue(const std::string& content_type,
                        const StoredPush& push) {
  Statement stmt(db_,
                 "INSERT INTO queue(folded, headers, body, sender, "
                 "arrived_at) VALUES(?, ?, ?, ?, strftime('%s', 'now'))");
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  BindBlob(stmt.get(), 2, push.headers);
  BindBlob(stmt.get(), 3, push.body);
  BindText(stmt.get(), 4, push.sender);
  return StepDone(&stmt);
}

StoreResult PushStore::EnqueueOnce(const std::string& content_type,
                                   const StoredPush& push,
                                   const std::string& key) {
  // The bridge deletes the SMS, the only other copy, once this answers:
  // this one commit is synced to disk, unlike the busy queue's.
  if (!Exec("PRAGMA synchronous=FULL")) {
    return StoreResult::kFailed;
  }
  const StoreResult result = [&] {
    WriteTransaction txn(db_);
    Statement forget(
        db_, "DELETE FROM handovers WHERE at < strftime('%s', 'now') - ?");
    Statement remember(db_,
                       "INSERT OR IGNORE INTO handovers(key, at) "
                       "VALUES(?, strftime('%s', 'now'))");
    if (!txn.begun() || !forget.ok() || !remember.ok()) {
      return StoreResult::kFailed;
    }
    sqlite3_bind_int64(forget.get(), 1, kHandoverMemory);
    BindText(remember.get(), 1, key);
    if (!StepDone(&forget) || !StepDone(&remember)) {
      return StoreResult::kFailed;
    }
    if (sqlite3_changes(db_) == 0) {
      return StoreResult::kExists;
    }
    return Enqueue(content_type, push) && txn.Commit() ? StoreResult::kOk
                                                       : StoreResult::kFailed;
  }();
  (void)Exec("PRAGMA synchronous=NORMAL");
  return result;
}

bool PushStore::Take(const std::string& content_type, const ProcessId& self,
                     StoredPush* push, bool* found) {
  *found = false;
  WriteTransaction txn(db_);
  if (!txn.begun()) {
    return false;
  }
  const std::string select =
      std::string(
          "SELECT id, headers, body, sender FROM queue WHERE "
          "folded = ? AND ") +
      kFree + " ORDER BY id LIMIT 1";
  Statement stmt(db_, select.c_str());
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  const int rc = stmt.Step();
  if (rc == SQLITE_DONE) {
    return true;
  }
  if (rc != SQLITE_ROW) {
    return false;
  }
  push->id = sqlite3_column_int64(stmt.get(), 0);
  push->headers = ColumnBlob(stmt.get(), 1);
  push->body = ColumnBlob(stmt.get(), 2);
  push->sender = ColumnText(stmt.get(), 3);
  Statement take(db_,
                 "UPDATE queue SET taken_pid = ?, taken_start = ? "
                 "WHERE id = ?");
  if (!take.ok()) {
    return false;
  }
  sqlite3_bind_int64(take.get(), 1, self.pid);
  sqlite3_bind_int64(take.get(), 2, static_cast<int64_t>(self.start));
  sqlite3_bind_int64(take.get(), 3, push->id);
  if (!StepDone(&take) || !txn.Commit()) {
    return false;
  }
  *found = true;
  return true;
}

bool PushStore::Delete(int64_t id) {
  Statement stmt(db_, "DELETE FROM queue WHERE id = ?");
  if (!stmt.ok()) {
    return false;
  }
  sqlite3_bind_int64(stmt.get(), 1, id);
  return StepDone(&stmt);
}

bool PushStore::AnyWaiting(const std::string& content_type, bool* waiting) {
  // Stops at the first free push: a burst's queue is never counted whole.
  const std::string sql =
      std::string("SELECT EXISTS(SELECT 1 FROM queue WHERE folded = ? AND ") +
      kFree + ")";
  Statement stmt(db_, sql.c_str());
  if (!stmt.ok()) {
    return false;
  }
  BindText(stmt.get(), 1, FoldContentType(content_type));
  if (stmt.Step() != SQLITE_ROW) {
    return false;
  }
  *waiting = sqlite3_column_int(stmt.get(), 0) != 0;
  return true;
}

bool PushStore::ListRegistrations(std::vector<Registration>* list) {
  Statement stmt(db_,
                 "SELECT content_type, app_id, program, params FROM "
                 "registrations ORDER BY rowid");
  if (!stmt.ok()) {
    return false;
  }
  list->clear();
  int rc = SQLITE_ROW;
  while ((rc = stmt.Step()) == SQLITE_ROW) {
    list->push_back(
        Registration{ColumnText(stmt.get(), 0), ColumnText(stmt.get(), 1),
                     ColumnText(stmt.get(), 2), ColumnText(stmt.get(), 3)});
  }
  return rc == SQLITE_DONE;
}

bool PushStore::WaitingByType(std::map<std::string, int64_t>* waiting) {
  const std::string sql =
      std::string("SELECT folded, count(*) FROM queue WHERE ") + kFree +
      " GROUP BY folded";
  Statement stmt(db_, sql.c_str());
  if (!stmt.ok()) {
    return false;
  }
  waiting->clear();
  int rc = SQLITE_ROW;
  while ((rc = stmt.Step()) == SQLITE_ROW) {
    (*waiting)[ColumnText(stmt.get(), 0)] = sqlite3_column_int64(stmt.get(), 1);
  }
  return rc == SQLITE_DONE;
}

bool PushStore::AddCounts(const std::map<std::string, int64_t>& deltas) {
  WriteTransaction txn(db_);
  if (!txn.begun()) {
    return false;
  }
  for (const auto& [name, delta] : deltas) {
    Statement stmt(db_,
                   "INSERT INTO counters(name, count) VALUES(?, ?) "
                   "ON CONFLICT(name) DO UPDATE SET count = count + ?2");
    if (!stmt.ok()) {
      return false;
    }
    BindText(stmt.get(), 1, name);
    sqlite3_bind_int64(stmt.get(), 2, delta);
    if (!StepDone(&stmt)) {
      return false;
    }
  }
  return txn.Commit();
}

bool PushStore::Counts(std::map<std::string, int64_t>* counts) {
  Statement stmt(db_, "SELECT name, count FROM counters ORDER BY name");
  if (!stmt.ok()) {
    return false;
  }
  counts->clear();
  int rc = SQLITE_ROW;
  while ((rc = stmt.Step()) == SQLITE_ROW) {
    (*counts)[ColumnText(stmt.get(), 0)] = sqlite3_column_int64(stmt.get(), 1);
  }
  return rc == SQLITE_DONE;
}

bool PushStore::SetRouter(const RouterRow& row) {
  Statement stmt(db_,
                 "INSERT OR REPLACE INTO router(id, pid, start, address, "
                 "port) VALUES(1, ?, ?, ?, ?)");
  if (!stmt.ok()) {
    return false;
  }
  sqlite3_bind_int64(stmt.get(), 1, row.pid);
  sqlite3_bind_int64(stmt.get(), 2, static_cast<int64_t>(row.start));
  BindText(stmt.get(), 3, row.address);
  sqlite3_bind_int(stmt.get(), 4, row.port);
  return StepDone(&stmt);
}

bool PushStore::SetBridge(const ProcessId& self) {
  Statement stmt(db_,
                 "INSERT OR REPLACE INTO bridge(id, pid, start) "
                 "VALUES(1, ?, ?)");
  if (!stmt.ok()) {
    return false;
  }
  sqlite3_bind_int64(stmt.get(), 1, self.pid);
  sqlite3_bind_int64(stmt.get(), 2, static_cast<int64_t>(self.start));
  return StepDone(&stmt);
}

bool PushStore::Bridge(ProcessId* bridge, bool* live) {
  Statement stmt(db_, "SELECT pid, start FROM bridge");
  if (!stmt.ok()) {
    return false;
  }
  const int rc = stmt.Step();
  *live = false;
  if (rc == SQLITE_ROW) {
    bridge->pid = static_cast<uint32_t>(sqlite3_column_int64(stmt.get(), 0));
    bridge->start = static_cast<uint64_t>(sqlite3_column_int64(stmt.get(), 1));
    *live = ProcessLives(bridge->pid, bridge->start);
  }
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool PushStore::Router(RouterRow* row, bool* live) {
  Statement stmt(db_, "SELECT pid, start, address, port FROM router");
  if (!stmt.ok()) {
    return false;
  }
  const int rc = stmt.Step();
  *live = false;
  if (rc == SQLITE_ROW) {
    row->pid = static_cast<uint32_t>(sqlite3_column_int64(stmt.get(), 0));
    row->start = static_cast<uint64_t>(sqlite3_column_int64(stmt.get(), 1));
    row->address = ColumnText(stmt.get(), 2);
    row->port = sqlite3_column_int(stmt.get(), 3);
    *live = ProcessLives(row->pid, row->start);
  }
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

}  // namespace mms::pushrouter
