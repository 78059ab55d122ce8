// push_values.h: the values a push publishes for other programs.
#ifndef MMS_STORE_PUSH_VALUES_H_
#define MMS_STORE_PUSH_VALUES_H_

#include "push/dispatch.h"

namespace mms::store {

// A notification's "WapPhone" and "WapUrl" (its transaction ID is
// remembered under its location first), a delivery report's present
// values, then "WapType" and "WapState": one group in one transaction, so
// readers that watch "WapState" always find the push's other values with
// it. Nothing for an outcome that does not publish.
void PublishPush(const push::PushOutcome& outcome);

}  // namespace mms::store

#endif  // MMS_STORE_PUSH_VALUES_H_
