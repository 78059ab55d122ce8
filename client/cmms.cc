// cmms.cc: the CMMS object itself and saving a composed message.
//
// MMS_Save prepares the message, encodes it on a temporary CMMS and
// stores the PDU in the message folder. On success the library owns and
// deletes the message; on failure the caller keeps it, unchanged apart
// from the preparation. The third argument of MMS_Save is never written.
#include <cstring>
#include <memory>
#include <new>

#include "client/prepare.h"
#include "mms.h"
#include "platform/winapi.h"
#include "store/store.h"

CMMS::CMMS() : m_hPushRouter(nullptr) {
  std::memset(&m_PushMsg, 0, sizeof m_PushMsg);
}

CMMS::~CMMS() {}

int CMMS::RegisterCorvix(void) { return 0; }

int CMMS::MakeMMSFileToSave(unsigned char* pdu, int length, wchar_t* path) {
  return mms::store::StoreMessageFile(pdu, length, path);
}

int CMMS::SaveMMS(MMS_Custom_Data* message, char* /*unused*/,
                  wchar_t* saved_path) {
  int length = 0;
  unsigned char* pdu = MMS_MakeSendData(message, &length);
  if (pdu == nullptr) {
    return -1;
  }
  int stored = MakeMMSFileToSave(pdu, length, saved_path);
  LocalFree(pdu);
  return stored == 1 ? 0 : -1;
}

int CMMS::MMS_Save(MMS_Custom_Data* message, wchar_t* saved_path,
                   wchar_t* /*unused*/) {
  if (message == nullptr) {
    return -1;
  }
  if (!mms::client::PrepareForEncoding(message, 0)) {
    return -1;
  }
  std::unique_ptr<CMMS> saver(new (std::nothrow) CMMS());
  if (saver == nullptr) {
    return -1;
  }
  char scratch[MAX_PATH] = {};
  if (saver->SaveMMS(message, scratch, saved_path) != 0) {
    return -1;
  }
  mms::client::ReleaseMessage(message);
  return 0;
}
