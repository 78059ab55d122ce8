// send.cc: sending a composed message (MMS_Send, SendMMS), the send
// threads that submit a PDU copy, and MMS_StopSend.
//
// A user's message is submitted by the reporting thread, which ends by
// writing "SendOK" and "SendState"; read reports and acknowledgements go
// by the silent thread. A thread that MMS_StopSend ends unwinds at its next
// blocking point and runs none of its remaining steps.
#include <wchar.h>

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "client/prepare.h"
#include "client/threads.h"
#include "diag/log.h"
#include "mms.h"
#include "platform/owned.h"
#include "platform/thread.h"
#include "platform/winapi.h"
#include "store/transfers.h"

namespace {

constexpr int kMessageClassAuto = 3;

// What a send thread owns: the job with its PDU copy, and for the silent
// thread whether its end finishes the running retrieval.
struct SendTask {
  SendJob job{nullptr, 0};
  uint64_t serial = 0;            // identifies the reporting thread
  bool ends_retrieval = false;    // silent thread only
  bool submitted = false;         // the submission ran to its end
  wchar_t stored[MAX_PATH] = {};  // the stored copy of a user's message
  ~SendTask() {
    if (!submitted && mms::client::ShuttingDown()) {
      // Never silently: the user can send the stored copy again.
      if (stored[0] != L'\0') {
        LogText(GetLog(), L"Submission lost at shutdown: %ls\n", stored);
      } else {
        LogText(GetLog(), L"Submission lost at shutdown\n");
      }
    }
    LocalFree(job.pPdu);
  }
};

// A task holding a copy of length bytes of pdu; null without memory.
std::unique_ptr<SendTask> MakeTask(const unsigned char* pdu, int length) {
  if (length < 0) {
    return nullptr;
  }
  std::unique_ptr<SendTask> task(new (std::nothrow) SendTask);
  if (task == nullptr) {
    return nullptr;
  }
  // One spare byte so that an empty PDU still gets a block.
  task->job.pPdu = static_cast<unsigned char*>(
      LocalAlloc(LPTR, static_cast<size_t>(length) + 1));
  if (task->job.pPdu == nullptr) {
    return nullptr;
  }
  if (length > 0) {
    std::memcpy(task->job.pPdu, pdu, static_cast<size_t>(length));
  }
  task->job.nLength = length;
  return task;
}

// Serial of the thread whose handle g_hSendThread holds; guarded by
// StateMutex().
uint64_t g_send_serial = 0;

}  // namespace

DWORD SendThreadProc(void* argument) {
  mms::client::WorkerScope scope;
  std::unique_ptr<SendTask> task(static_cast<SendTask*>(argument));
  const int result = SubmitMMS(&task->job);
  // A transfer that noticed the stop returns instead of throwing.
  mms::platform::CancellationPoint();
  task->submitted = true;
  mms::client::ReleaseWebConnection(true);
  const uint64_t serial = task->serial;
  task.reset();
  ReportSendResult(result == 0 ? 1 : 2);
  // Only this thread's own handle: a newer message's thread keeps its own.
  HANDLE own = nullptr;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    if (g_send_serial == serial) {
      own = std::exchange(g_hSendThread, nullptr);
    }
  }
  if (own != nullptr) {
    CloseHandle(own);
  }
  return static_cast<DWORD>(result);
}

DWORD SendThreadProcWithOutReg(void* argument) {
  mms::client::WorkerScope scope;
  std::unique_ptr<SendTask> task(static_cast<SendTask*>(argument));
  const int result = SubmitMMS(&task->job, false);
  mms::platform::CancellationPoint();
  task->submitted = true;
  if (task->ends_retrieval) {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    IsNetWorked = mms::client::kNetIdle;
  }
  mms::client::ReleaseWebConnection(true);
  return static_cast<DWORD>(result);
}

namespace mms::client {

int StartSilentSend(const unsigned char* pdu, int length, bool ends_retrieval) {
  if (pdu == nullptr) {
    return -1;
  }
  std::unique_ptr<SendTask> task = MakeTask(pdu, length);
  HANDLE thread = nullptr;
  if (task != nullptr) {
    task->ends_retrieval = ends_retrieval;
    thread = StartWorker(SendThreadProcWithOutReg, task.get());
  }
  if (thread == nullptr) {
    // Nothing was sent: what the thread would have ended ends here.
    if (ends_retrieval) {
      std::lock_guard<std::mutex> lock(StateMutex());
      IsNetWorked = kNetIdle;
    }
    ReleaseWebConnection(true);
    return -1;
  }
  task.release();  // the thread frees it
  CloseHandle(thread);
  return 0;
}

}  // namespace mms::client

namespace {

// The reporting submission of a copy of pdu; stored names the copy kept
// in the message folder (null: none). 0 when its thread runs, else -1.
int StartReportedSend(const unsigned char* pdu, int length,
                      const wchar_t* stored) {
  if (pdu == nullptr) {
    return -1;
  }
  std::unique_ptr<SendTask> task = MakeTask(pdu, length);
  if (task == nullptr) {
    return -1;
  }
  if (stored != nullptr) {
    wcsncpy(task->stored, stored, MAX_PATH - 1);
  }
  static std::atomic<uint64_t> next_serial{1};
  task->serial = next_serial++;
  HANDLE previous = nullptr;
  {
    // Held across the start so that the new thread cannot end and look
    // for its handle before the handle is stored.
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    previous = std::exchange(g_hSendThread, nullptr);
    HANDLE thread = mms::client::StartWorker(SendThreadProc, task.get());
    if (thread != nullptr) {
      g_send_serial = task.release()->serial;
      g_hSendThread = thread;
    }
  }
  if (previous != nullptr) {
    CloseHandle(previous);  // that thread runs on
  }
  return task == nullptr ? 0 : -1;  // the task stays here only unsent
}

}  // namespace

int CMMS::MMS_Send_Message(unsigned char* pdu, int length) {
  return StartReportedSend(pdu, length, nullptr);
}

int CMMS::MMS_Send_Message_WithOutReg(unsigned char* pdu, int length) {
  // A read report is no step of a retrieval: the busy state stays.
  return mms::client::StartSilentSend(pdu, length, false);
}

int CMMS::MMS_StopSend(void) {
  HANDLE thread = nullptr;
  {
    std::lock_guard<std::mutex> lock(mms::client::StateMutex());
    thread = std::exchange(g_hSendThread, nullptr);
  }
  if (thread != nullptr) {
    TerminateThread(thread, 0);  // returns once the thread has ended
    LogText(GetLog(), L"TerminateThread");
    CloseHandle(thread);
  }
  mms::client::ReleaseWebConnection(false);
  return 0;
}

int CMMS::SendMMS(MMS_Custom_Data* message, wchar_t* saved_path,
                  int without_report) {
  int length = 0;
  unsigned char* pdu = MMS_MakeSendData(message, &length);
  if (pdu == nullptr) {
    return -1;
  }
  mms::platform::LocalBlock<unsigned char> owned(pdu);
  if (without_report == 0) {
    // Stored before the submission starts, so that -1 always means that
    // nothing was sent and a retry sends no duplicate.
    wchar_t stored[MAX_PATH] = {};
    if (MakeMMSFileToSave(pdu, length, stored) != 1) {
      return -1;
    }
    if (StartReportedSend(pdu, length, stored) != 0) {
      DeleteFileW(stored);
      return -1;
    }
    if (saved_path != nullptr) {
      wcscpy(saved_path, stored);
    }
  } else if (MMS_Send_Message_WithOutReg(pdu, length) != 0) {
    return -1;
  }
  return 0;
}

int CMMS::MMS_Send(MMS_Custom_Data* message, wchar_t* saved_path,
                   wchar_t* /*unused*/, int without_report) {
  if (message == nullptr) {
    return -1;
  }
  const int message_class = without_report != 0 ? kMessageClassAuto : 0;
  if (!mms::client::PrepareForEncoding(message, message_class)) {
    return -1;
  }
  std::unique_ptr<CMMS> sender(new (std::nothrow) CMMS());
  if (sender == nullptr) {
    return -1;
  }
  if (sender->SendMMS(message, saved_path, without_report) != 0) {
    return -1;
  }
  mms::client::ReleaseMessage(message);
  return 0;
}
