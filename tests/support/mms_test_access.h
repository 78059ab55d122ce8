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
  static unsigned char* MakeSendData(CMMS& mms, MMS_Custom_Data* message,
                                     int* length) {
    return mms.MMS_MakeSendData(message, length);
  }
  static WapPush_Message* DecodeWapPush(CMMS& mms, tagPushMsg* push) {
    return mms.DecodeWapPush(push);
  }
  static int HandMessage(CMMS& mms, tagPushMsg* push) {
    return mms.HandMessage(push);
  }
  static long UnRegisterClient(CMMS& mms) { return mms.UnRegisterClient(); }
  static int ParseSmilToData(MMS_Custom_Data* message, CSmil* smil) {
    return message->ParseSmilToData(smil);
  }
  static wchar_t* ConvertByteToUTF8(CMMS& mms, unsigned char* bytes,
                                    int count) {
    return mms.ConvertByteToUTF8(bytes, count);
  }
  static int ConvertLengthToInt(CMMS& mms, unsigned char* p) {
    return mms.ConvertLengthToInt(p);
  }
  static long ConvertLengthToLong(CMMS& mms, unsigned char* p) {
    return mms.ConvertLengthToLong(p);
  }
  static int ReciveMMS(CMMS& mms, WapPush_Message* push) {
    return mms.ReciveMMS(push);
  }
};

#endif  // MMS_TESTS_SUPPORT_MMS_TEST_ACCESS_H_
