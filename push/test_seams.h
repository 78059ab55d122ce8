// test_seams.h: the observer of handed pushes, for tests and benchmarks.
// Built into the internal static library only, so libmms.so holds none
// of it.
#ifndef MMS_PUSH_TEST_SEAMS_H_
#define MMS_PUSH_TEST_SEAMS_H_

namespace mms::push::test {

// observer gets the transaction ID ("" without one) of every push that
// HandMessage decodes, on the thread that handles it (tests and
// benchmarks count what reached it); null stops it.
void ObserveHandedPushes(void (*observer)(const char* transaction_id));

}  // namespace mms::push::test

#endif  // MMS_PUSH_TEST_SEAMS_H_
