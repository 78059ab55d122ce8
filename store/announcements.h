// announcements.h: the library's own record of announced messages: the
// transaction ID each notification carried, under its location, kept in
// the device's database so that a retrieval made by another process of
// the device finds it.
//
// It is no status value (nothing outside the library reads it). It holds
// the newest kAnnouncementsKept locations; older ones are dropped.
#ifndef MMS_STORE_ANNOUNCEMENTS_H_
#define MMS_STORE_ANNOUNCEMENTS_H_

#include <sqlite3.h>

#include <cstddef>
#include <string>

namespace mms::store {

constexpr size_t kAnnouncementsKept = 256;

// Records (replaces) the transaction ID announced for url. False when the
// database cannot be written.
bool RememberAnnouncement(const std::string& url,
                          const std::string& transaction_id);
// The same inside a write transaction already begun on the registry
// database (a push's status group records it in its own).
bool RecordAnnouncement(sqlite3* db, const std::string& url,
                        const std::string& transaction_id);

// The transaction ID announced for url; false when none is recorded.
bool FindAnnouncement(const std::string& url, std::string* transaction_id);

}  // namespace mms::store

#endif  // MMS_STORE_ANNOUNCEMENTS_H_
