// push_bodies.h: MMS push bodies shared by the push router tests.
#ifndef MMS_TESTS_PUSHROUTER_PUSH_BODIES_H_
#define MMS_TESTS_PUSHROUTER_PUSH_BODIES_H_

#include <string>

#include "support/test_support.h"

namespace mms::testing {

inline Bytes Zeroed(const std::string& text) {
  return Cat({Bytes(text.begin(), text.end()), {0}});
}

// m-notification-ind announcing url: type, transaction ID, version 1.0,
// X-Mms-Content-Location.
inline Bytes NotificationBody(const std::string& url,
                              const std::string& transaction_id = "t1") {
  return Cat(
      {Hex("8c 82 98"), Zeroed(transaction_id), Hex("8d 90 83"), Zeroed(url)});
}

}  // namespace mms::testing

#endif  // MMS_TESTS_PUSHROUTER_PUSH_BODIES_H_
