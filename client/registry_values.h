// registry_values.h: the key and value names the library publishes under
// HKEY_LOCAL_MACHINE for the maker's other programs.
//
// Each group of values is closed by its "state" value, written last with a
// fresh Random(); a change of that value tells readers the group is new.
// The routines themselves (RegSetDword, ...) are declared in mms.h.
#ifndef MMS_CLIENT_REGISTRY_VALUES_H_
#define MMS_CLIENT_REGISTRY_VALUES_H_

namespace mms::client {

constexpr wchar_t kMmsKey[] = L"software\\varnholt\\MMS";

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
// Connection.
constexpr wchar_t kCurrentId[] = L"CurrentID";

}  // namespace mms::client

#endif  // MMS_CLIENT_REGISTRY_VALUES_H_
