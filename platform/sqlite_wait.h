// sqlite_wait.h: how the library's SQLite connections wait for a database
// another connection holds.
#ifndef MMS_PLATFORM_SQLITE_WAIT_H_
#define MMS_PLATFORM_SQLITE_WAIT_H_

#include <sqlite3.h>

namespace mms::platform {

// Retries a busy database in short steps for up to timeout_ms. SQLite's
// own busy timeout sleeps in steps growing to 100 ms, so in a burst of
// short writes a waiting writer slept far longer than the lock was held.
void SetBusyWait(sqlite3* db, int timeout_ms);

// Puts the connection's database in WAL mode, waiting as above for another
// connection switching it at the same moment: SQLite answers that with
// SQLITE_BUSY at once, without the busy handler, so of two processes
// opening a new file together one would fail.
[[nodiscard]] bool UseWal(sqlite3* db, int timeout_ms);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_SQLITE_WAIT_H_
