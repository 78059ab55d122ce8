// receive.cc: retrieval requests (MMS_Recived, GetMMS_Manual, ReciveMMS),
// the receive thread, the delivery acknowledgement that ends a successful
// retrieval, read reports and the operation selector MMS_NetOpretion.
//
// Queued retrievals run one at a time: a request waits in the queue and in
// its own MMS_Recived call, in one-second steps, while another runs. The
// running retrieval is given up once it has run for its limit (counted from
// its own start, not from the waiter's arrival), so a burst of requests
// never cuts one short. Each receive thread owns its
// buffer and removes only its own queue node, so a retrieval given up
// while it hangs can end later without disturbing the next one.
#include <wchar.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "client/threads.h"
#include "codec/acknowledge.h"
#include "diag/log.h"
#include "mms.h"
#include "platform/owned.h"
#include "platform/text_convert.h"
#include "platform/thread.h"
#include "platform/winapi.h"
#include "push/wap_push.h"
#include "store/announcements.h"
#include "store/registry_values.h"
#include "store/transfers.h"
#include "transport/connection.h"
#include "transport/wininet.h"

namespace {

constexpr DWORD kWaitStepMs = 1000;
// A running retrieval is given up after 100 s, and never before its
// connection could come up and its transfer reach its deadline.
constexpr uint32_t kGiveUpMs =
    std::max<uint32_t>(100000, mms::transport::kConnectionLimitMs +
                                   mms::transport::kTransferDeadlineBaseMs);

using SteadyClock = std::chrono::steady_clock;
// When the running queued retrieval started; guarded by StateMutex().
SteadyClock::time_point g_busy_since;

// Nominal milliseconds the running retrieval has run (real time over the
// test time scale); the caller holds StateMutex().
uint64_t BusyForMsLocked() {
  const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
      SteadyClock::now() - g_busy_since);
  return static_cast<uint64_t>(static_cast<double>(real.count()) /
                               mms::platform::TimeScale());
}

// Threads of retrievals outside the queue (GetMMS_Manual, ReciveMMS); the
// ended ones are closed as new ones come. Guarded by StateMutex().
std::vector<HANDLE>& DirectFetches() {
  static auto* threads = new std::vector<HANDLE>;
  return *threads;
}

// Closes the handles of direct fetches that have ended; the caller holds
// StateMutex().
void ForgetEndedFetchesLocked() {
  std::vector<HANDLE>& threads = DirectFetches();
  for (size_t i = 0; i < threads.size();) {
    DWORD code = 0;
    if (GetExitCodeThread(threads[i], &code) && code == STILL_ACTIVE) {
      ++i;
    } else {
      CloseHandle(threads[i]);
      threads[i] = threads.back();
      threads.pop_back();
    }
  }
}

// What a receive thread owns: its buffer (URL in, stored path out) and the
// queue node it runs for (0: a retrieval outside the queue).
struct ReceiveTask {
  wchar_t* buffer = nullptr;  // LocalAlloc, MAX_PATH characters
  uint64_t node_id = 0;
  ~ReceiveTask() {
    {
      std::lock_guard<std::mutex> lock(mms::client::StateMutex());
      if (g_MMSName == buffer) {
        g_MMSName = nullptr;
      }
    }
    LocalFree(buffer);
  }
};

// True when the text at url ends within MAX_PATH characters.
bool FitsLocation(const wchar_t* url) {
  return wcsnlen(url, MAX_PATH) < MAX_PATH;
}

// Takes the retrieval's node out of the queue. True when it was still
// queued: the retrieval is the running one and its end makes the state
// idle. A retrieval outside the queue, or one a waiting caller gave up,
// leaves the state to others.
bool LeaveQueue(uint64_t node_id) {
  if (node_id == 0) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mms::client::StateMutex());
  return mms::client::RemoveRecvQueueNodeLocked(node_id);
}

// The m-notifyresp-ind (Retrieved) answering the notification that
// announced url, or null (logged) when none was recorded.
unsigned char* NotifyResponseFor(const wchar_t* url, int* length) {
  std::string narrow;
  std::string transaction_id;
  if (!mms::platform::WideToUtf8Text(url, &narrow) ||
      !mms::store::FindAnnouncement(narrow, &transaction_id)) {
    LogText(GetLog(),
            L"no transaction ID in the message or its notification: %ls\n",
            url);
    return nullptr;
  }
  return mms::codec::MakeNotifyResponse(transaction_id.c_str(),
                                        mms::codec::kStatusRetrieved, length);
}

void EndFailedRetrieval(bool current) {
  ReportNewMMS(2);
  if (current) {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    IsNetWorked = mms::client::kNetIdle;
  }
  mms::client::ReleaseWebConnection(true);
}

}  // namespace

DWORD ReceiveThreadProc(void* argument) {
  mms::client::WorkerScope scope;
  std::unique_ptr<ReceiveTask> task(static_cast<ReceiveTask*>(argument));
  wchar_t url[MAX_PATH] = {};
  wcscpy(url, task->buffer);
  // The message this thread stored is the one it acknowledges: by the
  // ID in the bytes it wrote, whatever "NewMMSName" says by then.
  bool has_id = false;
  std::string id;
  const int result = RetrieveMMS(task->buffer, MAX_PATH, &has_id, &id);
  mms::platform::CancellationPoint();
  const uint64_t node_id = task->node_id;
  task.reset();
  const bool current = LeaveQueue(node_id);
  if (result != 0) {
    EndFailedRetrieval(current);
  } else {
    mms::client::AcknowledgeRetrieval(has_id ? &id : nullptr, url, current);
  }
  return static_cast<DWORD>(result);
}

namespace mms::client {

int StartReceive(const wchar_t* url, uint64_t node_id) {
  if (url == nullptr || !FitsLocation(url)) {
    return -1;
  }
  std::unique_ptr<ReceiveTask> task(new (std::nothrow) ReceiveTask);
  if (task != nullptr) {
    task->buffer =
        static_cast<wchar_t*>(LocalAlloc(LPTR, MAX_PATH * sizeof(wchar_t)));
  }
  if (task == nullptr || task->buffer == nullptr) {
    // No thread: the retrieval fails as one whose download failed.
    EndFailedRetrieval(LeaveQueue(node_id));
    return 0;
  }
  wcscpy(task->buffer, url);
  task->node_id = node_id;
  {
    std::lock_guard<std::mutex> lock(StateMutex());
    // An earlier thread's buffer stays that thread's until it ends.
    g_MMSName = task->buffer;
  }
  HANDLE thread = StartWorker(ReceiveThreadProc, task.get());
  if (thread == nullptr) {
    task.reset();
    EndFailedRetrieval(LeaveQueue(node_id));
    return 0;
  }
  task.release();  // the thread frees it
  {
    // The node keeps the handle, so that giving the retrieval up can end
    // its thread; a node already gone (the thread ended) does not.
    std::lock_guard<std::mutex> lock(StateMutex());
    for (RecvQueueNode* node = g_pRecvQueue; node_id != 0 && node != nullptr;
         node = node->pNext) {
      if (node->nId == node_id) {
        node->hThread = std::exchange(thread, nullptr);
        break;
      }
    }
  }
  if (thread != nullptr) {
    // Outside the queue: kept so that Stop can end it.
    std::lock_guard<std::mutex> lock(StateMutex());
    ForgetEndedFetchesLocked();
    DirectFetches().push_back(thread);
  }
  return 0;
}

void TakeRunningRetrievalsLocked(std::vector<HANDLE>* threads) {
  IsNetWorked = kNetIdle;
  while (g_pRecvQueue != nullptr && g_pRecvQueue->bStarted) {
    if (g_pRecvQueue->hThread != nullptr) {
      threads->push_back(std::exchange(g_pRecvQueue->hThread, nullptr));
    }
    PopRecvQueueLocked();
  }
}

void EndRetrievals(const std::vector<HANDLE>& threads) {
  // Their transfers and threads end here; nothing of them runs on.
  for (HANDLE thread : threads) {
    TerminateThread(thread, 0);
    CloseHandle(thread);
  }
  ReleaseWebConnection(false);
}

void EndEveryRetrieval() {
  std::vector<HANDLE> threads;
  {
    std::lock_guard<std::mutex> lock(StateMutex());
    if (IsNetWorked == kNetBusy) {
      TakeRunningRetrievalsLocked(&threads);
    }
    std::vector<HANDLE>& direct = DirectFetches();
    threads.insert(threads.end(), direct.begin(), direct.end());
    direct.clear();
  }
  if (!threads.empty()) {
    EndRetrievals(threads);
  }
}

int SendAcknowledgement(bool ends_retrieval) {
  // One character less than the buffer: the stored text has no
  // terminator, so the last zero must stay.
  wchar_t path[MAX_PATH] = {};
  RegGetValue(const_cast<wchar_t*>(store::kMmsKey),
              const_cast<wchar_t*>(store::kNewMmsName), path,
              (MAX_PATH - 1) * sizeof(wchar_t));
  std::unique_ptr<CMMS> temp(new (std::nothrow) CMMS());
  mms::platform::LocalBlock<unsigned char> id;
  if (temp != nullptr) {
    id.reset(temp->GetMMSTranscationID(path));
  }
  const std::string text =
      id != nullptr ? reinterpret_cast<const char*>(id.get()) : "";
  return AcknowledgeRetrieval(id != nullptr ? &text : nullptr, nullptr,
                              ends_retrieval);
}

int AcknowledgeRetrieval(const std::string* transaction_id, const wchar_t* url,
                         bool ends_retrieval) {
  int length = 0;
  mms::platform::LocalBlock<unsigned char> pdu;
  if (transaction_id != nullptr) {
    CMMS maker;
    std::string id = *transaction_id;
    pdu.reset(maker.MakeDeliveryAcknowledgement(
        reinterpret_cast<unsigned char*>(id.data()), &length));
  } else if (url != nullptr) {
    pdu.reset(NotifyResponseFor(url, &length));
  }
  if (transaction_id == nullptr && pdu == nullptr) {
    if (ends_retrieval) {
      std::lock_guard<std::mutex> lock(StateMutex());
      IsNetWorked = kNetIdle;
    }
    ReleaseWebConnection(true);
    return 0;
  }
  if (pdu == nullptr) {
    return -1;  // the busy state stays until a waiting request gives up
  }
  // A thread that cannot be started ends the retrieval there and then.
  return StartSilentSend(pdu.get(), length, ends_retrieval);
}

}  // namespace mms::client

int CMMS::MMS_SendDeliveryAcknowlegement(void) {
  return mms::client::SendAcknowledgement(true);
}

int CMMS::GetMMS_Manual(wchar_t* url) {
  return mms::client::StartReceive(url, 0);
}

int CMMS::ReciveMMS(WapPush_Message* push) {
  if (push == nullptr) {
    return -1;
  }
  wchar_t url[MAX_PATH] = {};
  if (push->pszContentLocation != nullptr) {
    // At most 63 bytes, so the wide text always fits.
    MultiByteToWideChar(CP_ACP, 0, push->pszContentLocation, -1, url,
                        static_cast<int>(MAX_PATH));
  }
  return mms::client::StartReceive(url, 0);
}

int CMMS::MMS_Recived(wchar_t* url) {
  namespace client = mms::client;
  if (url == nullptr || !FitsLocation(url)) {
    return -1;
  }
  auto* node = new (std::nothrow) RecvQueueNode{};
  if (node == nullptr) {
    return -1;
  }
  wcscpy(node->szLocation, url);
  node->nId = client::NextNodeId();
  const uint64_t own_id = node->nId;
  PushRecvQueue(node);

  // Decided under the mutex, so that two callers never start one node. The
  // oldest waiting request goes first; a caller that starts an earlier
  // one in its turn stays to start its own, so none is left behind.
  for (;;) {
    wchar_t location[MAX_PATH] = {};
    uint64_t start_id = 0;
    uint64_t gave_up_after_ms = 0;
    std::vector<HANDLE> abandoned;
    {
      std::lock_guard<std::mutex> lock(client::StateMutex());
      if (client::NodeLeftWaitingLocked(own_id)) {
        return 0;  // another caller started it in its turn
      }
      const bool busy = IsNetWorked == client::kNetBusy;
      if (busy && BusyForMsLocked() >= kGiveUpMs) {
        // Give the running retrieval up, even if it ended just now.
        gave_up_after_ms = BusyForMsLocked();
        client::TakeRunningRetrievalsLocked(&abandoned);
      }
      if (IsNetWorked != client::kNetBusy) {
        // Never null: this caller's own node still waits.
        RecvQueueNode* next = client::FirstWaitingNodeLocked();
        next->bStarted = true;
        wcscpy(location, next->szLocation);
        start_id = next->nId;
        IsNetWorked = client::kNetBusy;
        g_busy_since = SteadyClock::now();
      }
    }
    if (start_id == 0) {
      Sleep(kWaitStepMs);
      continue;
    }
    if (gave_up_after_ms != 0) {
      LogText(GetLog(), L"Retrieval given up after %u s\n",
              static_cast<unsigned>(gave_up_after_ms / 1000));
      client::EndRetrievals(abandoned);
    }
    const int result = client::StartReceive(location, start_id);
    if (start_id == own_id) {
      return result;
    }
  }
}

int CMMS::MMS_SendReadReport(wchar_t* number, wchar_t* text) {
  auto* message = new (std::nothrow) MMS_Custom_Data();
  if (message == nullptr) {
    return 0;
  }
  wchar_t subject[] = L"已读报告";
  message->SetPhoneNumber(number);
  message->SetSubject(subject);
  message->AddPartTxt(0, text, 1);
  wchar_t saved_path[MAX_PATH] = {};
  wchar_t scratch[MAX_PATH] = {};
  if (MMS_Send(message, saved_path, scratch, 1) != 0) {
    delete message;
  }
  return 0;
}

int CMMS::MMS_NetOpretion(MMS_Custom_Data* message, wchar_t* name,
                          int operation) {
  switch (operation) {
    case 2: {
      wchar_t scratch[MAX_PATH] = {};
      return MMS_Send(message, name, scratch, 0);
    }
    case 1:
      return MMS_Recived(name);
    default:
      return 0;
  }
}
