// push_store.h: the push router's durable state, shared by the router
// process and its clients ("<device root>/pushrouter.db").
//
// Registrations, waiting pushes (one queue per content type, arrival
// order), holds on content types, counters and the running router's row.
// A hold or a taken push belongs to a process named by its pid and its
// start time, so a pid reused by another program is not taken for the
// holder. Every write is one immediate transaction; the file runs in WAL
// mode with synchronous=FULL, so a committed push survives SIGKILL.
#ifndef MMS_PUSHROUTER_PUSH_STORE_H_
#define MMS_PUSHROUTER_PUSH_STORE_H_

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mms::pushrouter {

// A process as the store names it.
struct ProcessId {
  uint32_t pid = 0;
  uint64_t start = 0;  // clock ticks after boot, from /proc/<pid>/stat
};

ProcessId SelfProcess();
// The running process with that pid; start 0 when there is none.
ProcessId ProcessOf(uint32_t pid);
// True while that very process runs (not a zombie, not a reused pid).
bool ProcessLives(uint32_t pid, uint64_t start);

// Host path of the store under the current device root.
std::string PushStorePath();

struct Registration {
  std::string content_type;  // as registered
  std::string app_id;        // "" when none
  std::string program;       // device path, UTF-8
  std::string params;        // UTF-8
};

struct StoredPush {
  int64_t id = 0;
  std::vector<uint8_t> headers;
  std::vector<uint8_t> body;
  std::string sender;
};

struct RouterRow {
  uint32_t pid = 0;
  uint64_t start = 0;
  std::string address;
  int port = 0;
};

enum class StoreResult { kOk, kExists, kMissing, kHeldElsewhere, kFailed };

// One connection; closed when the object goes. Not shared between threads.
class PushStore {
 public:
  PushStore() = default;
  ~PushStore();
  PushStore(const PushStore&) = delete;
  PushStore& operator=(const PushStore&) = delete;

  // Opens (creating and laying out on first use) the store at host path.
  [[nodiscard]] bool Open(const std::string& path);

  // Registrations are keyed by folded content type and application ID.
  StoreResult Register(const Registration& registration);
  StoreResult Unregister(const std::string& content_type,
                         const std::string& app_id);
  // The first registration for the content type (any application ID).
  [[nodiscard]] bool FindRegistration(const std::string& content_type,
                                      Registration* registration, bool* found);
  [[nodiscard]] bool HasRegistration(const std::string& content_type,
                                     const std::string& app_id, bool* found);

  // Takes the hold for self: kHeldElsewhere while another live process
  // holds it. A hold of this same process is taken over, and pushes it
  // had taken go back to the queue.
  StoreResult Hold(const std::string& content_type, const ProcessId& self,
                   int64_t session, int notify_port);
  // Drops the hold only if this session still has it.
  [[nodiscard]] bool Release(const std::string& content_type,
                             const ProcessId& self, int64_t session);
  // Pushes self took for the content type go back to the queue.
  [[nodiscard]] bool ReturnTaken(const std::string& content_type,
                                 const ProcessId& self);
  // Notification port of the live holder, or 0 when none holds it.
  [[nodiscard]] bool LiveHolderPort(const std::string& content_type, int* port);

  [[nodiscard]] bool Enqueue(const std::string& content_type,
                             const StoredPush& push);
  // Enqueue for a push handed over under key: kExists, and nothing queued,
  // when that key was stored before (keys are kept 30 days).
  StoreResult EnqueueOnce(const std::string& content_type,
                          const StoredPush& push, const std::string& key);
  // Marks the oldest free push as taken by self; *found false when none
  // waits. Pushes taken by processes that ended count as free.
  [[nodiscard]] bool Take(const std::string& content_type,
                          const ProcessId& self, StoredPush* push, bool* found);
  [[nodiscard]] bool Delete(int64_t id);
  // Whether any push waits to be taken.
  [[nodiscard]] bool AnyWaiting(const std::string& content_type, bool* waiting);

  // Registrations in the order made; free pushes per folded content type.
  [[nodiscard]] bool ListRegistrations(std::vector<Registration>* list);
  [[nodiscard]] bool WaitingByType(std::map<std::string, int64_t>* waiting);

  [[nodiscard]] bool AddCounts(const std::map<std::string, int64_t>& deltas);
  [[nodiscard]] bool Counts(std::map<std::string, int64_t>* counts);

  [[nodiscard]] bool SetRouter(const RouterRow& row);
  // The recorded router; *live tells whether it still runs.
  [[nodiscard]] bool Router(RouterRow* row, bool* live);
  // The modem bridge (mms-modem) working for this device root.
  [[nodiscard]] bool SetBridge(const ProcessId& self);
  [[nodiscard]] bool Bridge(ProcessId* bridge, bool* live);

 private:
  [[nodiscard]] bool Exec(const char* sql);

  sqlite3* db_ = nullptr;
};

}  // namespace mms::pushrouter

#endif  // MMS_PUSHROUTER_PUSH_STORE_H_
