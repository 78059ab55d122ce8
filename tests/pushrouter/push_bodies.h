// push_bodies.h: MMS push bodies and registry reads shared by the push
// router tests.
#ifndef MMS_TESTS_PUSHROUTER_PUSH_BODIES_H_
#define MMS_TESTS_PUSHROUTER_PUSH_BODIES_H_

#include <string>
#include <vector>

#include "platform/registry.h"
#include "store/registry_values.h"
#include "support/test_support.h"

namespace mms::testing {

// m-notification-ind announcing url.
inline Bytes NotificationBody(const std::string& url,
                              const std::string& transaction_id = "t1") {
  Bytes body = Hex("8c 82 98");  // m-notification-ind, X-Mms-Transaction-Id
  body.insert(body.end(), transaction_id.begin(), transaction_id.end());
  const Bytes rest =
      Hex("00 8d 90"  // X-Mms-MMS-Version: 1.0
          "83");      // X-Mms-Content-Location:
  body.insert(body.end(), rest.begin(), rest.end());
  body.insert(body.end(), url.begin(), url.end());
  body.push_back(0);
  return body;
}

// m-delivery-ind for message_id, status Retrieved.
inline Bytes DeliveryBody(const std::string& message_id) {
  Bytes body =
      Hex("8c 86"  // X-Mms-Message-Type: m-delivery-ind
          "8b");   // Message-ID:
  body.insert(body.end(), message_id.begin(), message_id.end());
  body.push_back(0);
  body.push_back(0x95);  // X-Mms-Status: Retrieved
  body.push_back(0x81);
  return body;
}

// Write sequence of a value under the library's key; -1 when absent.
inline int64_t WriteSeq(const std::wstring& name) {
  std::vector<mms::platform::StoredValue> values;
  if (!mms::platform::ListStoredValues(mms::store::kMmsKey, &values)) {
    return -1;
  }
  for (const auto& v : values) {
    if (v.name == name) {
      return v.seq;
    }
  }
  return -1;
}

// A string value under the library's key ("" when absent).
inline std::wstring ReadString(const wchar_t* name) {
  wchar_t text[260] = {};
  WBuf key(mms::store::kMmsKey), value(name);
  RegGetValue(key, value, text, sizeof(text) - sizeof(wchar_t));
  return text;
}

}  // namespace mms::testing

#endif  // MMS_TESTS_PUSHROUTER_PUSH_BODIES_H_
