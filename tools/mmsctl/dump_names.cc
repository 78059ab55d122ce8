// dump_names.cc: {code, name} arrays for the values the dump names.
//
// Enumerated header values are keyed by the header code from the codec's
// table and the wire byte; a byte no row names is shown in hex by the
// caller.
#include "tools/mmsctl/dump_names.h"

#include <cstddef>

#include "codec/header_table.h"

namespace mmsctl {
namespace {

namespace codec = mms::codec;

struct ValueRow {
  uint8_t code;   // header field (7-bit)
  uint8_t value;  // wire byte
  const char* name;
};

constexpr ValueRow kValues[] = {
    {codec::kMessageType, 128, "m-send-req"},
    {codec::kMessageType, 129, "m-send-conf"},
    {codec::kMessageType, 130, "m-notification-ind"},
    {codec::kMessageType, 131, "m-notifyresp-ind"},
    {codec::kMessageType, 132, "m-retrieve-conf"},
    {codec::kMessageType, 133, "m-acknowledge-ind"},
    {codec::kMessageType, 134, "m-delivery-ind"},
    {codec::kMessageType, 135, "m-read-rec-ind"},
    {codec::kMessageType, 136, "m-read-orig-ind"},
    {codec::kMessageType, 137, "m-forward-req"},
    {codec::kMessageType, 138, "m-forward-conf"},
    {codec::kMessageType, 139, "m-mbox-store-req"},
    {codec::kMessageType, 140, "m-mbox-store-conf"},
    {codec::kMessageType, 141, "m-mbox-view-req"},
    {codec::kMessageType, 142, "m-mbox-view-conf"},
    {codec::kMessageType, 143, "m-mbox-upload-req"},
    {codec::kMessageType, 144, "m-mbox-upload-conf"},
    {codec::kMessageType, 145, "m-mbox-delete-req"},
    {codec::kMessageType, 146, "m-mbox-delete-conf"},
    {codec::kMessageType, 147, "m-mbox-descr"},
    {codec::kMessageType, 148, "m-delete-req"},
    {codec::kMessageType, 149, "m-delete-conf"},
    {codec::kMessageType, 150, "m-cancel-req"},
    {codec::kMessageType, 151, "m-cancel-conf"},
    {codec::kMessageClass, 128, "Personal"},
    {codec::kMessageClass, 129, "Advertisement"},
    {codec::kMessageClass, 130, "Informational"},
    {codec::kMessageClass, 131, "Auto"},
    {codec::kPriority, 128, "Low"},
    {codec::kPriority, 129, "Normal"},
    {codec::kPriority, 130, "High"},
    {codec::kSenderVisibility, 128, "Hide"},
    {codec::kSenderVisibility, 129, "Show"},
    {codec::kResponseStatus, 128, "Ok"},
    {codec::kResponseStatus, 129, "Error-unspecified"},
    {codec::kResponseStatus, 130, "Error-service-denied"},
    {codec::kResponseStatus, 131, "Error-message-format-corrupt"},
    {codec::kResponseStatus, 132, "Error-sending-address-unresolved"},
    {codec::kResponseStatus, 133, "Error-message-not-found"},
    {codec::kResponseStatus, 134, "Error-network-problem"},
    {codec::kResponseStatus, 135, "Error-content-not-accepted"},
    {codec::kResponseStatus, 136, "Error-unsupported-message"},
    {codec::kResponseStatus, 192, "Error-transient-failure"},
    {codec::kResponseStatus, 193, "Error-transient-sending-address-unresolved"},
    {codec::kResponseStatus, 194, "Error-transient-message-not-found"},
    {codec::kResponseStatus, 195, "Error-transient-network-problem"},
    {codec::kResponseStatus, 224, "Error-permanent-failure"},
    {codec::kResponseStatus, 225, "Error-permanent-service-denied"},
    {codec::kResponseStatus, 226, "Error-permanent-message-format-corrupt"},
    {codec::kResponseStatus, 227, "Error-permanent-sending-address-unresolved"},
    {codec::kResponseStatus, 228, "Error-permanent-message-not-found"},
    {codec::kResponseStatus, 229, "Error-permanent-content-not-accepted"},
    {codec::kStatus, 128, "Expired"},
    {codec::kStatus, 129, "Retrieved"},
    {codec::kStatus, 130, "Rejected"},
    {codec::kStatus, 131, "Deferred"},
    {codec::kStatus, 132, "Unrecognised"},
    {codec::kStatus, 133, "Indeterminate"},
    {codec::kStatus, 134, "Forwarded"},
    {codec::kStatus, 135, "Unreachable"},
    {codec::kRetrieveStatus, 128, "Ok"},
    {codec::kRetrieveStatus, 192, "Error-transient-failure"},
    {codec::kRetrieveStatus, 193, "Error-transient-message-not-found"},
    {codec::kRetrieveStatus, 194, "Error-transient-network-problem"},
    {codec::kRetrieveStatus, 224, "Error-permanent-failure"},
    {codec::kRetrieveStatus, 225, "Error-permanent-service-denied"},
    {codec::kRetrieveStatus, 226, "Error-permanent-message-not-found"},
    {codec::kRetrieveStatus, 227, "Error-permanent-content-unsupported"},
    {codec::kReadStatus, 128, "Read"},
    {codec::kReadStatus, 129, "Deleted without being read"},
    {codec::kReplyCharging, 128, "Requested"},
    {codec::kReplyCharging, 129, "Requested text only"},
    {codec::kReplyCharging, 130, "Accepted"},
    {codec::kReplyCharging, 131, "Accepted text only"},
    {codec::kMmState, 128, "Draft"},
    {codec::kMmState, 129, "Sent"},
    {codec::kMmState, 130, "New"},
    {codec::kMmState, 131, "Retrieved"},
    {codec::kMmState, 132, "Forwarded"},
    {codec::kContentClass, 128, "text"},
    {codec::kContentClass, 129, "image-basic"},
    {codec::kContentClass, 130, "image-rich"},
    {codec::kContentClass, 131, "video-basic"},
    {codec::kContentClass, 132, "video-rich"},
    {codec::kContentClass, 133, "megapixel"},
    {codec::kContentClass, 134, "content-basic"},
    {codec::kContentClass, 135, "content-rich"},
    {codec::kRecommendedRetrievalMode, 128, "Manual"},
};

// Fields whose value is Yes (128) or No (129).
constexpr uint8_t kYesNoFields[] = {
    codec::kDeliveryReport, codec::kReadReport,
    codec::kReportAllowed,  codec::kStore,
    codec::kStored,         codec::kTotals,
    codec::kQuotas,         codec::kDistributionIndicator,
    codec::kDrmContent,     codec::kAdaptationAllowed,
};

}  // namespace

const char* HeaderValueName(uint8_t code, uint8_t value) {
  for (const ValueRow& row : kValues) {
    if (row.code == code && row.value == value) {
      return row.name;
    }
  }
  for (uint8_t yes_no : kYesNoFields) {
    if (yes_no == code && (value == codec::kYes || value == codec::kNo)) {
      return value == codec::kYes ? "Yes" : "No";
    }
  }
  return nullptr;
}

}  // namespace mmsctl
