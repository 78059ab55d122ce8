// threads.h: the worker threads of the entry points and the process-wide
// state they share: the listen thread and its object, the receive buffer,
// the reporting send thread, the retrieval busy flag and the queue of
// pending retrievals.
//
// One mutex (StateMutex) guards every global here. It is held only for a
// few assignments, never across a blocking point or a TerminateThread, so
// a thread that is being ended never waits for it while its ender holds it.
// Every thread handle has one owner at a time: whoever takes it out of its
// global under the mutex closes it, and nobody else.
#ifndef MMS_CLIENT_THREADS_H_
#define MMS_CLIENT_THREADS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "mms.h"
#include "platform/winapi.h"

// Characters of a content location or a retrieved file's path, terminator
// included: a queued URL, and the receive buffer it is copied into.

// One pending retrieval. The head of the queue is the oldest; nodes that
// were started form a prefix of the queue (they are started in order).
struct RecvQueueNode {
  wchar_t szLocation[MAX_PATH];  // the URL, zero-terminated
  RecvQueueNode* pNext;          // towards the tail
  uint64_t nId;                  // unique per node, never 0
  bool bStarted;                 // its receive thread was started
  HANDLE hThread;  // that thread while it runs; closed with the node
};

// All guarded by mms::client::StateMutex().
extern HANDLE g_hListenMMS;          // the listen thread, owned by Stop
extern CMMS* g_pMMS;                 // the listen thread's object
extern wchar_t* g_MMSName;           // buffer of the newest receive thread
                                     // (owned and freed by that thread)
extern HANDLE g_hSendThread;         // the last user message's send thread
extern RecvQueueNode* g_pRecvQueue;  // head of the pending retrievals
extern int g_nRecvQueue;             // nodes in the queue
// 1 while a queued retrieval (download and acknowledgement) runs, 2 idle.
// Written under the mutex; read anywhere.
extern std::atomic<int32_t> IsNetWorked;

// Appends node at the tail (count + 1). Takes ownership (new'd node).
void PushRecvQueue(RecvQueueNode* node);
// Unlinks and frees the head when there is one (count - 1).
void PopRecvQueue(void);

// Thread start routines; each frees its argument.
DWORD ListenThreadProc(void* unused);
DWORD SendThreadProc(void* job);
DWORD SendThreadProcWithOutReg(void* job);
DWORD ReceiveThreadProc(void* job);

namespace mms::client {

constexpr int32_t kNetBusy = 1;
constexpr int32_t kNetIdle = 2;

std::mutex& StateMutex();

// The queue under StateMutex() held by the caller.
void PushRecvQueueLocked(RecvQueueNode* node);
void PopRecvQueueLocked();
// Unlinks and frees the node with id; false when it is no longer queued
// (a waiting caller gave its retrieval up).
bool RemoveRecvQueueNodeLocked(uint64_t id);
// The first node not started yet, or null.
RecvQueueNode* FirstWaitingNodeLocked();
// True when the node with id is no longer waiting: started or gone.
bool NodeLeftWaitingLocked(uint64_t id);
uint64_t NextNodeId();

// Releases pWebConnect (and the temporary connection entries) when it is
// held and, with only_when_queue_empty, no retrieval is queued. Done under
// WebConnectMutex(), so two threads never release it twice and no transfer
// opens it meanwhile.
void ReleaseWebConnection(bool only_when_queue_empty);

// What a worker does: work (a submission or a retrieval, which a program
// waits for before it ends) or a service (the listener) that runs until
// stopped.
enum class WorkerKind { kWork, kService };

// Starts a worker thread counted by WaitForWorkers (and, for work, by
// WaitForWork). Null when it could not be created (nothing is then
// counted). The first call sets the process up (SetUpProcess).
HANDLE StartWorker(LPTHREAD_START_ROUTINE start, void* argument,
                   WorkerKind kind = WorkerKind::kWork);
// Held by every worker for its whole run, so the count drops only once
// the routine has released all it holds.
class WorkerScope {
 public:
  explicit WorkerScope(WorkerKind kind = WorkerKind::kWork) : kind_(kind) {}
  ~WorkerScope();
  WorkerScope(const WorkerScope&) = delete;
  WorkerScope& operator=(const WorkerScope&) = delete;

 private:
  const WorkerKind kind_;
};
// Workers started and not yet finished.
int RunningWorkers();
// Waits until no worker runs, at most timeout_ms of real time; true when
// none runs. For tests and orderly shutdown.
bool WaitForWorkers(uint32_t timeout_ms);
// Waits until no work (submission or retrieval) runs, at most timeout_ms
// of real time; true when none runs.
bool WaitForWork(uint32_t timeout_ms);

// Once per process, on the first worker's start (a client's thread): the
// HTTP layer and the log are set up, and an exit handler is registered
// that ends what still runs (EndAllWork) before the log is closed.
void SetUpProcess();
// Ends every worker that still runs and waits (a bounded grace) until they
// have unwound; submissions ended this way are logged as lost. Queued
// retrievals that were running are dropped and the state made idle.
void EndAllWork();
// True while EndAllWork ends the workers.
bool ShuttingDown();

// A silent submission of a copy of pdu. ends_retrieval: the thread sets
// IsNetWorked to idle when it ends (acknowledgements of the running
// retrieval, read reports). -1 for a null PDU or no memory, else 0.
int StartSilentSend(const unsigned char* pdu, int length, bool ends_retrieval);

// The acknowledgement of the message named by "NewMMSName";
// ends_retrieval as above. 0, or -1 when no PDU could be made.
int SendAcknowledgement(bool ends_retrieval);
// Acknowledges a retrieved message by its transaction ID (null when it
// carries none): an m-acknowledge-ind, or, without an ID, an
// m-notifyresp-ind with the ID of the notification that announced url
// (null: none). With neither, nothing is sent and the retrieval ends.
int AcknowledgeRetrieval(const std::string* transaction_id, const wchar_t* url,
                         bool ends_retrieval);

// Starts the receive thread for url. node_id is the queue node it runs
// for, 0 for a retrieval outside the queue. -1 for a null or too long URL
// (nothing started), else 0.
int StartReceive(const wchar_t* url, uint64_t node_id);

// Takes the running queued retrievals out of the queue (their threads go
// to threads) and makes the state idle; the caller holds StateMutex().
void TakeRunningRetrievalsLocked(std::vector<HANDLE>* threads);
// Ends those threads with their transfers and releases the connection.
void EndRetrievals(const std::vector<HANDLE>& threads);
// Ends every running retrieval, queued or not (Stop): no caller waits
// behind a transfer nobody wants any more.
void EndEveryRetrieval();

}  // namespace mms::client

#endif  // MMS_CLIENT_THREADS_H_
