// sms_push.cc: classifying an SMS and naming its push.
#include "modem/sms_push.h"

#include <cstdio>

#include "pushrouter/push_datagram.h"

namespace mms::modem {

SmsKind ClassifySms(const SmsInfo& sms) {
  pushrouter::PushDatagram push;
  if (sms.data.empty() ||
      pushrouter::ParsePushDatagram(sms.data.data(), sms.data.size(), &push) !=
          pushrouter::DatagramError::kNone) {
    return SmsKind::kNotPush;
  }
  return pushrouter::FoldContentType(push.content_type) ==
                 pushrouter::kMmsMessageType
             ? SmsKind::kMmsPush
             : SmsKind::kOtherPush;
}

std::string HandoverKey(const SmsInfo& sms) {
  // 64-bit FNV-1a over the three fields, each closed by a 0 byte.
  uint64_t hash = 0xcbf29ce484222325ULL;
  auto mix = [&hash](const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i <= size; ++i) {
      hash ^= i < size ? bytes[i] : 0;
      hash *= 0x100000001b3ULL;
    }
  };
  mix(reinterpret_cast<const uint8_t*>(sms.number.data()), sms.number.size());
  mix(reinterpret_cast<const uint8_t*>(sms.timestamp.data()),
      sms.timestamp.size());
  mix(sms.data.data(), sms.data.size());
  char key[32];
  std::snprintf(key, sizeof(key), "sms-%016llx",
                static_cast<unsigned long long>(hash));
  return key;
}

}  // namespace mms::modem
