// threads.cc: the shared state of the worker threads, the pending-retrieval
// queue, the release of the operator connection and the count of running
// workers.
//
// The thread routines themselves live beside their entry points:
// listen.cc, send.cc and receive.cc.
#include "client/threads.h"

#include <chrono>
#include <condition_variable>
#include <utility>

#include "platform/winapi.h"
#include "transport/connection.h"

HANDLE g_hListenMMS = nullptr;
CMMS* g_pMMS = nullptr;
wchar_t* g_MMSName = nullptr;
HANDLE g_hSendThread = nullptr;
RecvQueueNode* g_pRecvQueue = nullptr;
int g_nRecvQueue = 0;
std::atomic<int32_t> IsNetWorked{mms::client::kNetIdle};

namespace mms::client {
namespace {

struct WorkerCount {
  std::mutex mu;
  std::condition_variable changed;
  int running = 0;  // guarded by mu
  int work = 0;     // of them submissions and retrievals; guarded by mu
};

// Never destroyed: a worker may still be finishing while the process exits.
WorkerCount& Workers() {
  static WorkerCount* count = new WorkerCount;
  return *count;
}

void AddWorkers(int delta, WorkerKind kind) {
  WorkerCount& w = Workers();
  {
    std::lock_guard<std::mutex> lock(w.mu);
    w.running += delta;
    if (kind == WorkerKind::kWork) {
      w.work += delta;
    }
  }
  w.changed.notify_all();
}

}  // namespace

std::mutex& StateMutex() {
  static std::mutex* mu = new std::mutex;
  return *mu;
}

void PushRecvQueueLocked(RecvQueueNode* node) {
  node->pNext = nullptr;
  RecvQueueNode** link = &g_pRecvQueue;
  while (*link != nullptr) {
    link = &(*link)->pNext;
  }
  *link = node;
  ++g_nRecvQueue;
}

void PopRecvQueueLocked() {
  RecvQueueNode* head = g_pRecvQueue;
  if (head == nullptr) {
    return;
  }
  g_pRecvQueue = head->pNext;
  --g_nRecvQueue;
  if (head->hThread != nullptr) {
    CloseHandle(head->hThread);  // a running thread goes on by itself
  }
  delete head;
}

bool RemoveRecvQueueNodeLocked(uint64_t id) {
  for (RecvQueueNode** link = &g_pRecvQueue; *link != nullptr;
       link = &(*link)->pNext) {
    if ((*link)->nId == id) {
      RecvQueueNode* node = *link;
      *link = node->pNext;
      --g_nRecvQueue;
      if (node->hThread != nullptr) {
        CloseHandle(node->hThread);  // the caller may be that thread
      }
      delete node;
      return true;
    }
  }
  return false;
}

RecvQueueNode* FirstWaitingNodeLocked() {
  for (RecvQueueNode* node = g_pRecvQueue; node != nullptr;
       node = node->pNext) {
    if (!node->bStarted) {
      return node;
    }
  }
  return nullptr;
}

bool NodeLeftWaitingLocked(uint64_t id) {
  for (RecvQueueNode* node = g_pRecvQueue; node != nullptr;
       node = node->pNext) {
    if (node->nId == id) {
      return node->bStarted;
    }
  }
  return true;
}

uint64_t NextNodeId() {
  static std::atomic<uint64_t> next{1};
  return next++;
}

void ReleaseWebConnection(bool only_when_queue_empty) {
  std::lock_guard<std::mutex> connection_lock(WebConnectMutex());
  {
    std::lock_guard<std::mutex> lock(StateMutex());
    if (only_when_queue_empty && g_pRecvQueue != nullptr) {
      return;  // kept for the retrievals that wait
    }
  }
  if (pWebConnect != nullptr) {
    CloseMMSConnection(&pWebConnect);
  }
}

HANDLE StartWorker(LPTHREAD_START_ROUTINE start, void* argument,
                   WorkerKind kind) {
  SetUpProcess();
  AddWorkers(1, kind);
  HANDLE thread = CreateThread(nullptr, 0, start, argument, 0, nullptr);
  if (thread == nullptr) {
    AddWorkers(-1, kind);
  }
  return thread;
}

WorkerScope::~WorkerScope() { AddWorkers(-1, kind_); }

int RunningWorkers() {
  WorkerCount& w = Workers();
  std::lock_guard<std::mutex> lock(w.mu);
  return w.running;
}

bool WaitForWorkers(uint32_t timeout_ms) {
  WorkerCount& w = Workers();
  std::unique_lock<std::mutex> lock(w.mu);
  return w.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&w] { return w.running == 0; });
}

bool WaitForWork(uint32_t timeout_ms) {
  WorkerCount& w = Workers();
  std::unique_lock<std::mutex> lock(w.mu);
  return w.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&w] { return w.work == 0; });
}

}  // namespace mms::client

void PushRecvQueue(RecvQueueNode* node) {
  if (node == nullptr) {
    return;
  }
  std::lock_guard<std::mutex> lock(mms::client::StateMutex());
  mms::client::PushRecvQueueLocked(node);
}

void PopRecvQueue(void) {
  std::lock_guard<std::mutex> lock(mms::client::StateMutex());
  mms::client::PopRecvQueueLocked();
}
