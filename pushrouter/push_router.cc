// push_router.cc: the six push router calls of a client process.
//
// An open content type is a session: a hold row in the store, a platform
// event and a watcher thread. The router sends one byte to the session's
// loopback UDP port when a push is queued; the watcher (woken by it, or
// every kWatchPollMs as a fallback) sets the event while pushes wait and
// resets it when none do. Every event change happens under the session's
// sync_mu right after a fresh count, so a reset after the last fetch can
// never hide a push that arrived meanwhile.
#include "pushrouter/push_router.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/handle_table.h"
#include "platform/registry_db.h"
#include "platform/text_convert.h"
#include "pushrouter/push_datagram.h"
#include "pushrouter/push_store.h"

namespace mms::pushrouter {

using platform::AddHandle;
using platform::HandleObject;
using platform::LookupHandle;
using platform::TakeHandle;
using platform::WideToUtf8Text;

namespace {

constexpr int kWatchPollMs = 200;

bool ToUtf8(const wchar_t* text, std::string* out) {
  out->clear();
  return text == nullptr || WideToUtf8Text(text, out);
}

class Session : public HandleObject {
 public:
  Session(std::string store_path, std::string content_type, int64_t id)
      : store_path_(std::move(store_path)),
        content_type_(std::move(content_type)),
        id_(id) {}
  ~Session() override { Shut(); }
  bool ClosedByCloseHandle() const override { return false; }

  const std::string& store_path() const { return store_path_; }
  const std::string& content_type() const { return content_type_; }
  int64_t id() const { return id_; }
  HANDLE event() const { return event_; }
  bool retired() const { return retired_.load(); }

  // Binds the notification socket; its port goes into the hold row.
  bool Bind(int* port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      return false;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
      return false;
    }
    port_ = ntohs(addr.sin_port);
    *port = port_;
    return true;
  }

  void Start(HANDLE event) {
    event_ = event;
    watcher_ = std::thread([this] { Watch(); });
  }

  // Sets the event while pushes wait, resets it when none do.
  void Sync(PushStore* store) {
    std::lock_guard<std::mutex> lock(sync_mu_);
    bool waiting = false;
    if (retired_.load() || event_ == nullptr ||
        !store->AnyWaiting(content_type_, &waiting)) {
      return;
    }
    if (waiting) {
      SetEvent(event_);
    } else {
      ResetEvent(event_);
    }
  }

  // Stops the watcher; the event stays reset so a waiter on it blocks
  // instead of spinning.
  void Retire() {
    Shut();
    std::lock_guard<std::mutex> lock(sync_mu_);
    retired_ = true;
    if (event_ != nullptr) {
      ResetEvent(event_);
    }
  }

  void Shut() {
    if (watcher_.joinable()) {
      stop_ = true;
      Wake();
      watcher_.join();
    }
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

 private:
  void Wake() {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    const uint8_t byte = 0;
    (void)sendto(fd_, &byte, 1, 0, reinterpret_cast<sockaddr*>(&addr),
                 sizeof(addr));
  }

  void Watch() {
    PushStore store;
    const bool opened = store.Open(store_path_);
    while (!stop_.load()) {
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, kWatchPollMs) > 0) {
        uint8_t drain[16];
        while (recv(fd_, drain, sizeof(drain), MSG_DONTWAIT) >= 0) {
        }
      }
      if (!stop_.load() && opened) {
        Sync(&store);
      }
    }
  }

  const std::string store_path_;
  const std::string content_type_;  // folded
  const int64_t id_;
  HANDLE event_ = nullptr;  // set before the watcher starts
  int fd_ = -1;
  int port_ = 0;
  std::thread watcher_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> retired_{false};
  std::mutex sync_mu_;  // orders count-then-set/reset of event_
};

// The process's connection to the store for the client calls, held by one
// call at a time: opening one per call costs a path lookup, the journal
// set-up and a cold page cache. Reopened for another store, for a store
// file replaced behind it, or in a forked child.
class StoreLease {
 public:
  explicit StoreLease(const std::string& path);
  StoreLease(const StoreLease&) = delete;
  StoreLease& operator=(const StoreLease&) = delete;
  // Null when the store cannot be opened.
  PushStore* get() const { return store_; }

 private:
  struct Shared {
    std::mutex mu;
    std::unique_ptr<PushStore> store;  // guarded by mu
    platform::OpenedFile file;         // guarded by mu; what store opened
    PushStore* inherited = nullptr;    // a parent's: never used, never closed
  };
  static Shared& TheShared() {
    static Shared* shared = new Shared;  // used by detached threads
    return *shared;
  }

  std::unique_lock<std::mutex> lock_;
  PushStore* store_ = nullptr;
};

StoreLease::StoreLease(const std::string& path) : lock_(TheShared().mu) {
  Shared& shared = TheShared();
  if (shared.store != nullptr && shared.file.Inherited()) {
    shared.inherited = shared.store.release();
  }
  if (shared.store == nullptr || !shared.file.Current(path)) {
    shared.store.reset();
    auto opened = std::make_unique<PushStore>();
    if (!opened->Open(path) || !shared.file.Note(path)) {
      return;
    }
    shared.store = std::move(opened);
  }
  store_ = shared.store.get();
}

struct Taken {
  std::string store_path;
  int64_t id;
};

struct ClientState {
  std::mutex mu;
  int64_t next_session = 1;  // guarded by mu
  // Open sessions by store path and content type.
  std::map<std::string, std::weak_ptr<Session>> sessions;  // guarded by mu
  // Fetched pushes by their body block.
  std::map<const void*, Taken> taken;  // guarded by mu
};

ClientState& State() {
  static ClientState* state = new ClientState;  // used by detached threads
  return *state;
}

std::string SessionKey(const std::string& store_path,
                       const std::string& folded) {
  return store_path + '\n' + folded;
}

HRESULT RealRegister(const wchar_t* content_type, const wchar_t* app_id,
                     const wchar_t* program, const wchar_t* params) {
  Registration reg;
  if (content_type == nullptr || content_type[0] == L'\0' ||
      program == nullptr || !ToUtf8(content_type, &reg.content_type) ||
      !ToUtf8(app_id, &reg.app_id) || !ToUtf8(program, &reg.program) ||
      !ToUtf8(params, &reg.params)) {
    return kPushInvalidArg;
  }
  StoreLease lease(PushStorePath());
  PushStore* store = lease.get();
  if (store == nullptr) {
    return kPushFailed;
  }
  switch (store->Register(reg)) {
    case StoreResult::kOk:
      return kPushOk;
    case StoreResult::kExists:
      return kPushAlreadyRegistered;
    default:
      return kPushFailed;
  }
}

HRESULT RealUnregister(const wchar_t* content_type, const wchar_t* app_id) {
  std::string type, app;
  if (content_type == nullptr || content_type[0] == L'\0' ||
      !ToUtf8(content_type, &type) || !ToUtf8(app_id, &app)) {
    return kPushInvalidArg;
  }
  StoreLease lease(PushStorePath());
  PushStore* store = lease.get();
  if (store == nullptr) {
    return kPushFailed;
  }
  switch (store->Unregister(type, app)) {
    case StoreResult::kOk:
      return kPushOk;
    case StoreResult::kMissing:
      return kPushNotFound;
    default:
      return kPushFailed;
  }
}

HRESULT RealOpen(const wchar_t* content_type, const wchar_t* app_id,
                 HANDLE* event, HANDLE* router) {
  std::string type, app;
  if (content_type == nullptr || content_type[0] == L'\0' || event == nullptr ||
      router == nullptr || !ToUtf8(content_type, &type) ||
      !ToUtf8(app_id, &app)) {
    return kPushInvalidArg;
  }
  const std::string path = PushStorePath();
  StoreLease lease(path);
  PushStore* store = lease.get();
  RouterRow row;
  bool router_runs = false;
  bool registered = false;
  if (store == nullptr || !store->Router(&row, &router_runs) ||
      !store->HasRegistration(type, app, &registered)) {
    return kPushFailed;
  }
  if (!router_runs) {
    return kPushNoRouter;
  }
  if (!registered) {
    return kPushNotRegistered;
  }
  const std::string folded = FoldContentType(type);
  ClientState& state = State();
  int64_t id = 0;
  {
    std::lock_guard<std::mutex> lock(state.mu);
    id = state.next_session++;
  }
  auto session = std::make_shared<Session>(path, folded, id);
  int port = 0;
  if (!session->Bind(&port)) {
    return kPushFailed;
  }
  switch (store->Hold(folded, SelfProcess(), id, port)) {
    case StoreResult::kOk:
      break;
    case StoreResult::kHeldElsewhere:
      return kPushHeldElsewhere;
    default:
      return kPushFailed;
  }
  HANDLE signal = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (signal == nullptr) {
    (void)store->Release(folded, SelfProcess(), id);
    return kPushFailed;
  }
  std::shared_ptr<Session> earlier;
  {
    std::lock_guard<std::mutex> lock(state.mu);
    std::weak_ptr<Session>& slot = state.sessions[SessionKey(path, folded)];
    earlier = slot.lock();
    slot = session;
  }
  if (earlier != nullptr) {
    earlier->Retire();  // this open took its hold over
  }
  session->Start(signal);
  session->Sync(store);
  *event = signal;
  *router = AddHandle(session);
  return kPushOk;
}

HRESULT RealGetMessage(HANDLE router, PUSHMSG* push) {
  if (push == nullptr || push->cbSize != sizeof(PUSHMSG)) {
    return kPushInvalidArg;
  }
  std::shared_ptr<Session> session = LookupHandle<Session>(router);
  if (session == nullptr || session->retired()) {
    return kPushBadHandle;
  }
  StoreLease lease(session->store_path());
  PushStore* store = lease.get();
  StoredPush stored;
  bool found = false;
  if (store == nullptr ||
      !store->Take(session->content_type(), SelfProcess(), &stored, &found)) {
    return kPushFailed;
  }
  session->Sync(store);
  if (!found) {
    return kPushNoMessage;
  }
  // Blocks of at least one byte, so every fetched push has its own body
  // pointer, even when the body is empty.
  auto* headers = static_cast<BYTE*>(
      LocalAlloc(LPTR, stored.headers.empty() ? 1 : stored.headers.size()));
  auto* body = static_cast<BYTE*>(
      LocalAlloc(LPTR, stored.body.empty() ? 1 : stored.body.size()));
  auto* sender = static_cast<BYTE*>(LocalAlloc(LPTR, stored.sender.size() + 1));
  if (headers == nullptr || body == nullptr || sender == nullptr) {
    LocalFree(headers);
    LocalFree(body);
    LocalFree(sender);
    (void)store->ReturnTaken(session->content_type(), SelfProcess());
    return kPushFailed;
  }
  std::copy(stored.headers.begin(), stored.headers.end(), headers);
  std::copy(stored.body.begin(), stored.body.end(), body);
  std::copy(stored.sender.begin(), stored.sender.end(), sender);
  push->pbHeaders = headers;
  push->cbHeaders = static_cast<DWORD>(stored.headers.size());
  push->pbBody = body;
  push->cbBody = static_cast<DWORD>(stored.body.size());
  push->pbSenderAddress = sender;
  push->cbSenderAddress = static_cast<DWORD>(stored.sender.size());
  ClientState& state = State();
  std::lock_guard<std::mutex> lock(state.mu);
  state.taken[body] = Taken{session->store_path(), stored.id};
  return kPushOk;
}

HRESULT RealFreeMessage(PUSHMSG* push) {
  if (push == nullptr) {
    return kPushInvalidArg;
  }
  if (push->pbBody == nullptr && push->pbHeaders == nullptr &&
      push->pbSenderAddress == nullptr) {
    return kPushOk;  // nothing was fetched into it
  }
  Taken taken;
  {
    ClientState& state = State();
    std::lock_guard<std::mutex> lock(state.mu);
    auto it = state.taken.find(push->pbBody);
    if (it == state.taken.end()) {
      return kPushInvalidArg;  // not ours: never free a foreign block
    }
    taken = it->second;
    state.taken.erase(it);
  }
  LocalFree(push->pbHeaders);
  LocalFree(push->pbBody);
  LocalFree(push->pbSenderAddress);
  push->pbHeaders = nullptr;
  push->cbHeaders = 0;
  push->pbBody = nullptr;
  push->cbBody = 0;
  push->pbSenderAddress = nullptr;
  push->cbSenderAddress = 0;
  StoreLease lease(taken.store_path);
  if (lease.get() == nullptr || !lease.get()->Delete(taken.id)) {
    return kPushFailed;
  }
  return kPushOk;
}

HRESULT RealClose(HANDLE router) {
  // Taken out first: of two racing closes, one does the work.
  std::shared_ptr<Session> session = TakeHandle<Session>(router);
  if (session == nullptr) {
    return kPushBadHandle;
  }
  const bool held = !session->retired();
  session->Retire();
  HRESULT result = kPushOk;
  if (held) {
    StoreLease lease(session->store_path());
    PushStore* store = lease.get();
    const ProcessId self = SelfProcess();
    if (store == nullptr ||
        !store->Release(session->content_type(), self, session->id()) ||
        !store->ReturnTaken(session->content_type(), self)) {
      result = kPushFailed;
    }
    ClientState& state = State();
    std::lock_guard<std::mutex> lock(state.mu);
    state.sessions.erase(
        SessionKey(session->store_path(), session->content_type()));
  }
  CloseHandle(session->event());
  return result;
}

constexpr PushRouterCalls kRealCalls = {
    RealRegister,   RealUnregister,  RealOpen,
    RealGetMessage, RealFreeMessage, RealClose,
};

std::atomic<const PushRouterCalls*> g_calls{&kRealCalls};

}  // namespace

void SetPushRouterCalls(const PushRouterCalls* calls) {
  g_calls = calls == nullptr ? &kRealCalls : calls;
}

}  // namespace mms::pushrouter

using mms::pushrouter::g_calls;

HRESULT PushRouter_RegisterClient(const wchar_t* content_type,
                                  const wchar_t* app_id, const wchar_t* program,
                                  const wchar_t* params) {
  return g_calls.load()->register_client(content_type, app_id, program, params);
}

HRESULT PushRouter_UnRegisterClient(const wchar_t* content_type,
                                    const wchar_t* app_id) {
  return g_calls.load()->unregister_client(content_type, app_id);
}

HRESULT PushRouter_Open(const wchar_t* content_type, const wchar_t* app_id,
                        HANDLE* event, HANDLE* router) {
  return g_calls.load()->open(content_type, app_id, event, router);
}

HRESULT PushRouter_GetMessage(HANDLE router, PUSHMSG* push) {
  return g_calls.load()->get_message(router, push);
}

HRESULT PushRouter_FreeMessage(PUSHMSG* push) {
  return g_calls.load()->free_message(push);
}

HRESULT PushRouter_Close(HANDLE router) {
  return g_calls.load()->close(router);
}
