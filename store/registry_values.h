// registry_values.h: the key and value names the library publishes under
// HKEY_LOCAL_MACHINE for the maker's other programs.
//
// Each group of values is closed by its "state" value, written last with a
// fresh Random(); a change of that value tells readers the group is new.
// The library writes its groups through WriteStatusGroup, all in one
// transaction; the exported routines (RegSetDword, ...) are declared in
// mms.h and flush each value on its own.
#ifndef MMS_STORE_REGISTRY_VALUES_H_
#define MMS_STORE_REGISTRY_VALUES_H_

#include <cstddef>

#include "connmgr/mms_entries.h"
#include "platform/registry.h"
#include "platform/winapi.h"

namespace mms::store {

// One value of a status group: a DWORD, or a text (borrowed).
struct GroupValue {
  const wchar_t* name;
  bool is_text;
  DWORD dword;
  const wchar_t* text;
};

inline GroupValue DwordValue(const wchar_t* name, DWORD value) {
  return GroupValue{name, false, value, nullptr};
}
inline GroupValue TextValue(const wchar_t* name, const wchar_t* text) {
  return GroupValue{name, true, 0, text};
}

// Writes a group's values in order and then its state value, set to a
// fresh Random(), in one transaction with one flush: a reader sees the
// whole group or none of it, and never a state without its values. False
// when the group could not be written; nothing of it is then written and
// the state is not raised. `along` writes other rows in the same
// transaction.
[[nodiscard]] bool WriteStatusGroup(
    const wchar_t* state_name, const GroupValue* values, size_t count,
    const platform::AlongWrite& along = nullptr);

// The library's key, shared with the connection's own "CurrentID".
using connmgr::kMmsKey;

// Retrieval.
constexpr wchar_t kNewMms[] = L"NewMMS";
constexpr wchar_t kNewMmsName[] = L"NewMMSName";
constexpr wchar_t kReciveState[] = L"ReciveState";
// Submission.
constexpr wchar_t kSendOk[] = L"SendOK";
constexpr wchar_t kMessageId[] = L"MessageID";
constexpr wchar_t kSendState[] = L"SendState";
// Pushes.
constexpr wchar_t kWapType[] = L"WapType";
constexpr wchar_t kWapPhone[] = L"WapPhone";
constexpr wchar_t kWapUrl[] = L"WapUrl";
constexpr wchar_t kDeliveryReportPhone[] = L"DeliveryReportPhone";
constexpr wchar_t kDeliveryReportMsgId[] = L"DeliveryReportMsgID";
constexpr wchar_t kDeliveryReportStatue[] = L"DeliveryReportStatue";
constexpr wchar_t kWapState[] = L"WapState";
// Connection (written by connmgr/mms_entries.h).
using connmgr::kCurrentId;

}  // namespace mms::store

#endif  // MMS_STORE_REGISTRY_VALUES_H_
