// transfers.cc: RetrieveMMS and SubmitMMS, the transport's transfers with
// what the library keeps of them: the retrieved message's file and its
// status values, a sent message's "MessageID".
#include "store/transfers.h"

#include <wchar.h>

#include <vector>

#include "codec/acknowledge.h"
#include "codec/header_table.h"
#include "diag/log.h"
#include "platform/winapi.h"
#include "store/registry_values.h"
#include "store/store.h"

namespace store = mms::store;

int RetrieveMMS(wchar_t* location, size_t capacity, bool* has_transaction_id,
                std::string* transaction_id) {
  std::vector<unsigned char> body;
  if (mms::transport::FetchMessage(location, capacity, &body) != 0) {
    return -1;
  }
  body.resize(body.size() + 2, 0);  // the stored file ends with two zeros

  wchar_t path[MAX_PATH] = {};
  store::StoreFailure failure = store::StoreFailure::kNone;
  if (!store::StoreMessageFile(body.data(), static_cast<int>(body.size()), path,
                               &failure)) {
    LogText(GetLog(), failure == store::StoreFailure::kCreate ? L"CreateFile\n"
                                                              : L"WriteFile\n");
    return -1;
  }
  if (wcslen(path) + 1 > capacity) {
    DeleteFileW(path);  // the caller could not be told where it is
    return -1;
  }
  wcscpy(location, path);
  if (has_transaction_id != nullptr && transaction_id != nullptr) {
    *has_transaction_id =
        mms::codec::ReadTransactionId(body.data(), body.size(), transaction_id);
  }
  const store::GroupValue group[] = {store::TextValue(store::kNewMmsName, path),
                                     store::DwordValue(store::kNewMms, 1)};
  (void)store::WriteStatusGroup(store::kReciveState, group, 2);
  return 0;
}

int SubmitMMS(const SendJob* job, bool publishes_message_id) {
  if (job == nullptr || job->pPdu == nullptr || job->nLength < 0) {
    return -1;
  }
  mms::transport::SubmissionReport report;
  mms::transport::PostPdu(job, &report);
  if (report.accepted && report.message_type == mms::codec::kMsgSendReq &&
      publishes_message_id) {
    wchar_t wide_id[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, report.message_id.c_str(), -1, wide_id,
                        static_cast<int>(MAX_PATH));
    RegSetString(const_cast<wchar_t*>(store::kMmsKey),
                 const_cast<wchar_t*>(store::kMessageId), wide_id);
  }
  return mms::transport::FinishSubmission(&report);
}
