// sqlite_wait.cc: the busy handler of the library's SQLite connections.
#include "platform/sqlite_wait.h"

#include <stdint.h>
#include <unistd.h>

namespace mms::platform {
namespace {

constexpr int kShortSteps = 50;  // 0.2 ms each: the first 10 ms
constexpr useconds_t kShortStepUs = 200;
constexpr useconds_t kLongStepUs = 1000;

// SQLite passes how many times it has retried this wait.
int WaitBriefly(void* timeout, int count) {
  const auto timeout_us =
      static_cast<int64_t>(reinterpret_cast<intptr_t>(timeout)) * 1000;
  const int64_t waited_us =
      count < kShortSteps ? int64_t{count} * kShortStepUs
                          : int64_t{kShortSteps} * kShortStepUs +
                                int64_t{count - kShortSteps} * kLongStepUs;
  if (waited_us >= timeout_us) {
    return 0;  // give up: the call returns SQLITE_BUSY
  }
  usleep(count < kShortSteps ? kShortStepUs : kLongStepUs);
  return 1;
}

}  // namespace

void SetBusyWait(sqlite3* db, int timeout_ms) {
  sqlite3_busy_handler(db, WaitBriefly,
                       reinterpret_cast<void*>(intptr_t{timeout_ms}));
}

bool UseWal(sqlite3* db, int timeout_ms) {
  void* timeout = reinterpret_cast<void*>(intptr_t{timeout_ms});
  for (int count = 0;; ++count) {
    const int rc =
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_BUSY) {
      return rc == SQLITE_OK;
    }
    if (WaitBriefly(timeout, count) == 0) {
      return false;
    }
  }
}

}  // namespace mms::platform
