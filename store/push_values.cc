// push_values.cc: a push's status group.
#include "store/push_values.h"

#include "codec/header_table.h"
#include "store/announcements.h"
#include "store/registry_values.h"

namespace mms::store {

void PublishPush(const push::PushOutcome& outcome) {
  if (!outcome.publishes) {
    return;
  }
  GroupValue group[4];
  size_t count = 0;
  platform::AlongWrite announce;
  if (outcome.type == codec::kMsgNotificationInd) {
    if (outcome.has_transaction_id) {
      // In the group's own transaction: one commit, one flush per push.
      announce = [&outcome](sqlite3* db) {
        return RecordAnnouncement(db, outcome.url_text, outcome.transaction_id);
      };
    }
    group[count++] = TextValue(kWapPhone, outcome.phone.c_str());
    group[count++] = TextValue(kWapUrl, outcome.url.c_str());
  } else if (outcome.type == codec::kMsgDeliveryInd) {
    if (!outcome.report_phone.empty()) {
      group[count++] =
          TextValue(kDeliveryReportPhone, outcome.report_phone.c_str());
    }
    if (!outcome.report_message_id.empty()) {
      group[count++] =
          TextValue(kDeliveryReportMsgId, outcome.report_message_id.c_str());
    }
    if (outcome.report_status != 0) {
      group[count++] = DwordValue(kDeliveryReportStatue, outcome.report_status);
    }
  }
  group[count++] = DwordValue(kWapType, outcome.type);
  (void)WriteStatusGroup(kWapState, group, count, announce);
}

}  // namespace mms::store
