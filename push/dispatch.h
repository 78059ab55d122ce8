// dispatch.h: what the library makes of one decoded push. Nothing is
// fetched, written or shown here: HandMessage (client/) shows the prompt
// and has the store layer publish the values (store/push_values.h).
#ifndef MMS_PUSH_DISPATCH_H_
#define MMS_PUSH_DISPATCH_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "push/wap_push.h"

namespace mms::push {

struct PushOutcome {
  uint8_t type = 0;                 // X-Mms-Message-Type, published last
  bool publishes = true;            // false: an unusable notification
  const wchar_t* prompt = nullptr;  // shown for the other MMS types
  // A notification: its sender's phone and location, and the transaction
  // ID it announced (to find again by the location's UTF-8 text).
  std::wstring phone;
  std::wstring url;
  bool has_transaction_id = false;
  std::string url_text;
  std::string transaction_id;
  // A delivery report: each published only when present (not empty, or a
  // status other than 0).
  std::wstring report_phone;
  std::wstring report_message_id;
  uint8_t report_status = 0;
};

// Reads a decoded push into *outcome by its message type. A notification
// whose location cannot be fetched publishes nothing (logged).
void ReadPush(const WapPush_Message& push, PushOutcome* outcome);

namespace seams {
// ReadPush calls it, when set, with each push's transaction ID; only
// push/test_seams.cc, which libmms.so does not hold, sets it.
extern std::atomic<void (*)(const char*)> handed_push_observer;
}  // namespace seams

}  // namespace mms::push

#endif  // MMS_PUSH_DISPATCH_H_
