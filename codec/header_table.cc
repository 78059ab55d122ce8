// header_table.cc: the one table of MMS header fields {code, name, kind}.
//
// Rows are in code order with no gaps, so a code is its own index; the
// static_asserts below keep it that way when a row is touched.
#include "codec/header_table.h"

namespace mms::codec {
namespace {

using K = ValueKind;

constexpr HeaderRow kHeaders[] = {
    {kBcc, "Bcc", K::kEncodedString},
    {kCc, "Cc", K::kEncodedString},
    {kContentLocation, "X-Mms-Content-Location", K::kText},
    {kContentType, "Content-Type", K::kContentType},
    {kDate, "Date", K::kLongInteger},
    {kDeliveryReport, "X-Mms-Delivery-Report", K::kOctet},
    {kDeliveryTime, "X-Mms-Delivery-Time", K::kTime},
    {kExpiry, "X-Mms-Expiry", K::kTime},
    {kFrom, "From", K::kFrom},
    {kMessageClass, "X-Mms-Message-Class", K::kClass},
    {kMessageId, "Message-ID", K::kText},
    {kMessageType, "X-Mms-Message-Type", K::kOctet},
    {kMmsVersion, "X-Mms-MMS-Version", K::kOctet},
    {kMessageSize, "X-Mms-Message-Size", K::kLongInteger},
    {kPriority, "X-Mms-Priority", K::kOctet},
    {kReadReport, "X-Mms-Read-Report", K::kOctet},
    {kReportAllowed, "X-Mms-Report-Allowed", K::kOctet},
    {kResponseStatus, "X-Mms-Response-Status", K::kOctet},
    {kResponseText, "X-Mms-Response-Text", K::kEncodedString},
    {kSenderVisibility, "X-Mms-Sender-Visibility", K::kOctet},
    {kStatus, "X-Mms-Status", K::kOctet},
    {kSubject, "Subject", K::kEncodedString},
    {kTo, "To", K::kEncodedString},
    {kTransactionId, "X-Mms-Transaction-Id", K::kText},
    {kRetrieveStatus, "X-Mms-Retrieve-Status", K::kOctet},
    {kRetrieveText, "X-Mms-Retrieve-Text", K::kEncodedString},
    {kReadStatus, "X-Mms-Read-Status", K::kOctet},
    {kReplyCharging, "X-Mms-Reply-Charging", K::kOctet},
    {kReplyChargingDeadline, "X-Mms-Reply-Charging-Deadline", K::kTime},
    {kReplyChargingId, "X-Mms-Reply-Charging-ID", K::kText},
    {kReplyChargingSize, "X-Mms-Reply-Charging-Size", K::kLongInteger},
    {kPreviouslySentBy, "X-Mms-Previously-Sent-By", K::kLengthPrefixed},
    {kPreviouslySentDate, "X-Mms-Previously-Sent-Date", K::kLengthPrefixed},
    {kStore, "X-Mms-Store", K::kOctet},
    {kMmState, "X-Mms-MM-State", K::kOctet},
    {kMmFlags, "X-Mms-MM-Flags", K::kLengthPrefixed},
    {kStoreStatus, "X-Mms-Store-Status", K::kOctet},
    {kStoreStatusText, "X-Mms-Store-Status-Text", K::kEncodedString},
    {kStored, "X-Mms-Stored", K::kOctet},
    {kAttributes, "X-Mms-Attributes", K::kOctet},
    {kTotals, "X-Mms-Totals", K::kOctet},
    {kMboxTotals, "X-Mms-Mbox-Totals", K::kLengthPrefixed},
    {kQuotas, "X-Mms-Quotas", K::kOctet},
    {kMboxQuotas, "X-Mms-Mbox-Quotas", K::kLengthPrefixed},
    {kMessageCount, "X-Mms-Message-Count", K::kInteger},
    {kContent, "Content", K::kBody},
    {kStart, "X-Mms-Start", K::kInteger},
    {kAdditionalHeaders, "Additional-headers", K::kText},
    {kDistributionIndicator, "X-Mms-Distribution-Indicator", K::kOctet},
    {kElementDescriptor, "X-Mms-Element-Descriptor", K::kLengthPrefixed},
    {kLimit, "X-Mms-Limit", K::kInteger},
    {kRecommendedRetrievalMode, "X-Mms-Recommended-Retrieval-Mode",
     K::kOctet},
    {kRecommendedRetrievalModeText, "X-Mms-Recommended-Retrieval-Mode-Text",
     K::kEncodedString},
    {kStatusText, "X-Mms-Status-Text", K::kEncodedString},
    {kApplicId, "X-Mms-Applic-ID", K::kText},
    {kReplyApplicId, "X-Mms-Reply-Applic-ID", K::kText},
    {kAuxApplicInfo, "X-Mms-Aux-Applic-Info", K::kText},
    {kContentClass, "X-Mms-Content-Class", K::kOctet},
    {kDrmContent, "X-Mms-DRM-Content", K::kOctet},
    {kAdaptationAllowed, "X-Mms-Adaptation-Allowed", K::kOctet},
    {kReplaceId, "X-Mms-Replace-ID", K::kText},
    {kCancelId, "X-Mms-Cancel-ID", K::kText},
    {kCancelStatus, "X-Mms-Cancel-Status", K::kOctet},
};

constexpr size_t kHeaderCount = sizeof(kHeaders) / sizeof(kHeaders[0]);

constexpr bool RowsAreIndexedByCode() {
  for (size_t i = 0; i < kHeaderCount; ++i) {
    if (kHeaders[i].code != i + 1) {
      return false;
    }
  }
  return true;
}

static_assert(kHeaderCount == 0x3F, "one row per code 0x01..0x3F");
static_assert(RowsAreIndexedByCode(), "rows in code order, no gaps");

}  // namespace

const HeaderRow* FindHeader(uint8_t code) {
  const uint8_t bare = code & 0x7F;
  if (bare == 0 || bare > kHeaderCount) {
    return nullptr;
  }
  return &kHeaders[bare - 1];
}

const char* HeaderName(uint8_t code) {
  const HeaderRow* row = FindHeader(code);
  return row == nullptr ? nullptr : row->name;
}

const HeaderRow* HeaderRows(size_t* count) {
  *count = kHeaderCount;
  return kHeaders;
}

}  // namespace mms::codec
