// announcements.cc: the announced-message table in the registry database.
//
// The table is made on first use; its rows are ordered by a rising
// sequence, so trimming to the newest is one statement in the same
// transaction as the write.
#include "store/announcements.h"

#include "platform/registry_db.h"

namespace mms::store {

using platform::BindText;
using platform::ColumnBlob;
using platform::RegistryDb;
using platform::Statement;
using platform::WriteTransaction;

namespace {

constexpr char kTable[] =
    "CREATE TABLE IF NOT EXISTS announced("
    "  url TEXT PRIMARY KEY,"
    "  transaction_id BLOB NOT NULL,"
    "  seq INTEGER NOT NULL)";

// Makes the table on first use; a kept statement, so later uses cost no
// parse.
bool HasTable(sqlite3* db) {
  Statement table(db, kTable);
  return table.Step() == SQLITE_DONE;
}

}  // namespace

bool RecordAnnouncement(sqlite3* db, const std::string& url,
                        const std::string& transaction_id) {
  if (!HasTable(db)) {
    return false;
  }
  Statement put(db,
                "INSERT OR REPLACE INTO announced(url, transaction_id, seq) "
                "VALUES(?1, ?2, (SELECT IFNULL(MAX(seq), 0) + 1 FROM "
                "announced))");
  Statement trim(db,
                 "DELETE FROM announced WHERE seq <= (SELECT MAX(seq) FROM "
                 "announced) - ?1");
  if (!put.ok() || !trim.ok()) {
    return false;
  }
  BindText(put.get(), 1, url);
  sqlite3_bind_blob(put.get(), 2, transaction_id.data(),
                    static_cast<int>(transaction_id.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(trim.get(), 1,
                     static_cast<sqlite3_int64>(kAnnouncementsKept));
  return put.Step() == SQLITE_DONE && trim.Step() == SQLITE_DONE;
}

bool RememberAnnouncement(const std::string& url,
                          const std::string& transaction_id) {
  RegistryDb db;
  if (!db.Open()) {
    return false;
  }
  WriteTransaction transaction(db.get());
  return transaction.begun() &&
         RecordAnnouncement(db.get(), url, transaction_id) &&
         transaction.Commit();
}

bool FindAnnouncement(const std::string& url, std::string* transaction_id) {
  RegistryDb db;
  if (!db.Open() || !HasTable(db.get())) {
    return false;
  }
  Statement get(db.get(),
                "SELECT transaction_id FROM announced WHERE url = ?1");
  if (!get.ok()) {
    return false;
  }
  BindText(get.get(), 1, url);
  if (get.Step() != SQLITE_ROW) {
    return false;
  }
  const std::vector<uint8_t> bytes = ColumnBlob(get.get(), 0);
  transaction_id->assign(bytes.begin(), bytes.end());
  return true;
}

}  // namespace mms::store
