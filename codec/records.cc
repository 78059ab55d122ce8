// records.cc: release of the shared header record.
#include "codec/records.h"

#include "platform/winapi.h"

namespace {

template <typename T>
void Release(T*& pointer) {
  if (pointer != nullptr) {
    LocalFree(pointer);
    pointer = nullptr;
  }
}

}  // namespace

void FreeMmsHeader(MMS_Header* header) {
  if (header == nullptr) {
    return;
  }
  Release(header->pszSubject);
  Release(header->pszTransactionId);
  Release(header->pszMessageId);
  Release(header->pszFrom);
  Release(header->pszTo);
  Release(header->pContentType);
  Release(header->pszCc);
  Release(header->pszStart);
  Release(header->pDate);
}
