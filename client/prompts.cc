// prompts.cc: the bounded queue of push prompts and the thread that shows
// them. The thread runs while prompts wait and ends when the queue is
// empty; whoever takes its handle out under the lock closes it.
#include "client/prompts.h"

#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "client/threads.h"
#include "diag/log.h"
#include "platform/prompt.h"
#include "platform/winapi.h"

namespace mms::client {
namespace {

constexpr wchar_t kPromptCaption[] = L"Prompt";

struct PromptQueue {
  std::mutex mu;
  std::deque<std::wstring> waiting;  // guarded by mu
  HANDLE thread = nullptr;           // guarded by mu; null when none runs
};

// Never destroyed: the prompt thread may run while the process exits.
PromptQueue& Queue() {
  static PromptQueue* queue = new PromptQueue;
  return *queue;
}

DWORD PromptThreadProc(void* /*unused*/) {
  WorkerScope scope(WorkerKind::kService);
  PromptQueue& q = Queue();
  for (;;) {
    std::wstring text;
    HANDLE own = nullptr;
    {
      std::lock_guard<std::mutex> lock(q.mu);
      if (q.waiting.empty()) {
        own = std::exchange(q.thread, nullptr);
      } else {
        text = std::move(q.waiting.front());
        q.waiting.pop_front();
      }
    }
    if (text.empty()) {
      if (own != nullptr) {
        CloseHandle(own);  // lets this running thread go
      }
      return 0;
    }
    MessageBoxW(nullptr, text.c_str(), kPromptCaption, MB_OK);
  }
}

}  // namespace

void QueuePrompt(const wchar_t* text) {
  PromptQueue& q = Queue();
  bool dropped = false;
  {
    std::lock_guard<std::mutex> lock(q.mu);
    if (q.waiting.size() >= kMaxQueuedPrompts) {
      dropped = true;
    } else {
      q.waiting.emplace_back(text);
      if (q.thread == nullptr) {
        // Started under the lock: the thread finds its prompt and handle.
        q.thread = StartWorker(PromptThreadProc, nullptr, WorkerKind::kService);
        if (q.thread == nullptr) {
          q.waiting.clear();
          dropped = true;
        }
      }
    }
  }
  if (dropped) {
    LogText(GetLog(), L"Prompt dropped: %ls\n", text);
  }
}

size_t QueuedPrompts() {
  PromptQueue& q = Queue();
  std::lock_guard<std::mutex> lock(q.mu);
  return q.waiting.size();
}

void EndPrompts() {
  PromptQueue& q = Queue();
  HANDLE thread = nullptr;
  {
    std::lock_guard<std::mutex> lock(q.mu);
    q.waiting.clear();
    thread = std::exchange(q.thread, nullptr);
  }
  if (thread != nullptr) {
    TerminateThread(thread, 0);  // returns once the prompt has gone
    CloseHandle(thread);
  }
}

}  // namespace mms::client
