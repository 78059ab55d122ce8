// mms_test_access.h: the one door tests have into private members.
//
// mms.h declares `class MmsTestAccess` a friend of CMMS and MMS_Custom_Data.
// This class holds only static forwarders, one per private member a test
// needs, so that tests never widen the exported interface. Add a forwarder
// here when a test needs another private member; keep each one a single
// call.
#ifndef MMS_TESTS_SUPPORT_MMS_TEST_ACCESS_H_
#define MMS_TESTS_SUPPORT_MMS_TEST_ACCESS_H_

#include "mms.h"

class MmsTestAccess {
 public:
  MmsTestAccess() = delete;

  // CMMS::MMS_MakeSendData: the whole m-send-req PDU of a composed message.
  static unsigned char* MakeSendData(CMMS& mms, MMS_Custom_Data* message,
                                     int* length) {
    return mms.MMS_MakeSendData(message, length);
  }
};

#endif  // MMS_TESTS_SUPPORT_MMS_TEST_ACCESS_H_
