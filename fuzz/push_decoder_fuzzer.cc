// push_decoder_fuzzer.cc: any bytes as the body of a WAP push, through the
// push decoder; every field must stay within its limit.
#include <cstdint>
#include <cstring>

#include "push/wap_push.h"

namespace {

void CheckText(const char* text, size_t limit) {
  if (text != nullptr && std::strlen(text) > limit) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PUSHMSG push;
  std::memset(&push, 0, sizeof(push));
  push.cbSize = sizeof(push);
  push.pbBody = const_cast<uint8_t*>(data);
  push.cbBody = static_cast<DWORD>(size);
  WapPush_Message* message = mms::push::DecodePush(&push);
  if (message == nullptr) {
    return 0;
  }
  namespace push_limits = mms::push;
  CheckText(message->pszTransactionId, push_limits::kShortTextLimit);
  CheckText(message->pszContentLocation, push_limits::kLocationLimit);
  CheckText(reinterpret_cast<const char*>(message->pExpiry),
            push_limits::kShortTextLimit);
  CheckText(message->pszFrom, push_limits::kNumberLimit);
  CheckText(message->pszTo, push_limits::kNumberLimit);
  CheckText(message->pszSubject, push_limits::kSubjectLimit);
  CheckText(message->pszResponseText, push_limits::kShortTextLimit);
  CheckText(message->pszMessageId, push_limits::kLongTextLimit);
  for (uint32_t word : message->dwReserved) {
    if (word != 0) {
      __builtin_trap();
    }
  }
  mms::push::FreeWapPushMessage(message);
  return 0;
}
