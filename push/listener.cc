// listener.cc: CMMS's push router members: registering the listener
// program and the loop that hands every push to HandMessage.
//
// The router is reached only through the six PushRouter_* calls, so tests
// can script its answers. The loop keeps the record m_PushMsg; a thread
// ended while a push is being handled still frees the record (the push is
// then taken as handled), so nothing the router handed out is leaked.
#include <cstring>

#include "mms.h"
#include "platform/winapi.h"
#include "pushrouter/push_router.h"

namespace {

namespace pushrouter = mms::pushrouter;

constexpr wchar_t kContentType[] = L"application/vnd.wap.mms-message";
constexpr wchar_t kProgram[] = L"\\program files\\Varnholt\\Tallow.exe";
constexpr wchar_t kParams[] = L"/run";
constexpr int kOpenAttempts = 100;

void ResetRecord(PUSHMSG* push) {
  std::memset(push, 0, sizeof(*push));
  push->cbSize = sizeof(PUSHMSG);
}

// Frees a fetched record if the thread unwinds before the loop does.
class RecordGuard {
 public:
  explicit RecordGuard(PUSHMSG* push) : push_(push) {}
  ~RecordGuard() {
    if (push_->pbBody != nullptr || push_->pbHeaders != nullptr ||
        push_->pbSenderAddress != nullptr) {
      PushRouter_FreeMessage(push_);
      ResetRecord(push_);
    }
  }
  RecordGuard(const RecordGuard&) = delete;
  RecordGuard& operator=(const RecordGuard&) = delete;

 private:
  PUSHMSG* push_;
};

}  // namespace

int CMMS::RegisterClient(void) {
  LONG result =
      PushRouter_RegisterClient(kContentType, nullptr, kProgram, kParams);
  if (result >= 0) {
    return 0;
  }
  if (result != pushrouter::kPushAlreadyRegistered) {
    return -1;
  }
  m_lResult = PushRouter_UnRegisterClient(kContentType, nullptr);
  result = PushRouter_RegisterClient(kContentType, nullptr, kProgram, kParams);
  return result >= 0 ? 0 : 1;
}

long CMMS::UnRegisterClient(void) {
  m_lResult = PushRouter_UnRegisterClient(kContentType, nullptr);
  return m_lResult >= 0 ? 0 : m_lResult;
}

int CMMS::GetMMS_WapPush(unsigned long wait_ms) {
  m_lResult =
      PushRouter_Open(kContentType, nullptr, &m_hPushEvent, &m_hPushRouter);
  if (m_lResult != 0) {
    if (m_lResult != pushrouter::kPushNotRegistered &&
        m_lResult != pushrouter::kPushHeldElsewhere) {
      return -1;
    }
    bool opened = false;
    for (int attempt = 0; attempt < kOpenAttempts && !opened; ++attempt) {
      RegisterClient();
      m_lResult =
          PushRouter_Open(kContentType, nullptr, &m_hPushEvent, &m_hPushRouter);
      opened = m_lResult == 0;
    }
    if (!opened) {
      return 1;
    }
  }
  const DWORD wait = static_cast<DWORD>(wait_ms);
  ResetRecord(&m_PushMsg);
  RecordGuard guard(&m_PushMsg);
  // A failed wait (a bad event) ends the loop like a timeout instead of
  // spinning on fetches.
  while (WaitForSingleObject(m_hPushEvent, wait) == WAIT_OBJECT_0) {
    ResetRecord(&m_PushMsg);
    m_lResult = PushRouter_GetMessage(m_hPushRouter, &m_PushMsg);
    if (m_lResult >= 0) {
      HandMessage(&m_PushMsg);
    }
    PushRouter_FreeMessage(&m_PushMsg);
    ResetRecord(&m_PushMsg);
  }
  m_lResult = PushRouter_Close(m_hPushRouter);
  if (m_lResult != 0) {
    OutputDebugStringW(L"PushRouter_Close Not close\n");
  }
  return 0;
}
