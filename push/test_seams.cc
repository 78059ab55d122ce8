// test_seams.cc: the setter of the push test seam, for the internal static
// library only.
#include "push/test_seams.h"

#include "push/dispatch.h"

namespace mms::push::test {

void ObserveHandedPushes(void (*observer)(const char* transaction_id)) {
  seams::handed_push_observer = observer;
}

}  // namespace mms::push::test
