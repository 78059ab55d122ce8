// push_datagram_fuzzer.cc: any bytes as a UDP datagram reaching the push
// router. The parser must stay inside the datagram, and what it accepts
// must come back unchanged when written again and read again. The bytes
// are also wrapped as a push body, which must read back whole. A datagram
// read as a hand-over request must name a push inside it and be rebuilt
// byte for byte.
#include <cstdint>
#include <string>
#include <vector>

#include "pushrouter/push_datagram.h"
#include "pushrouter/push_handover.h"

namespace {

using mms::pushrouter::BuildPushDatagram;
using mms::pushrouter::DatagramError;
using mms::pushrouter::ParsePushDatagram;
using mms::pushrouter::PushDatagram;

void Check(bool ok) {
  if (!ok) {
    __builtin_trap();
  }
}

bool Within(const uint8_t* view, size_t size, const uint8_t* data,
            size_t data_size) {
  return size == 0 || (view >= data && view + size <= data + data_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PushDatagram push;
  if (ParsePushDatagram(data, size, &push) == DatagramError::kNone) {
    Check(Within(push.headers, push.headers_size, data, size));
    Check(Within(push.body, push.body_size, data, size));
    Check(push.body_size + push.headers_size + 3 <= size);
    if (!push.content_type.empty()) {
      std::vector<uint8_t> headers(push.headers,
                                   push.headers + push.headers_size);
      std::vector<uint8_t> body(push.body, push.body + push.body_size);
      std::vector<uint8_t> again;
      if (BuildPushDatagram(push.transaction_id, push.content_type, headers,
                            body, &again)) {
        PushDatagram reread;
        Check(ParsePushDatagram(again.data(), again.size(), &reread) ==
              DatagramError::kNone);
        Check(std::vector<uint8_t>(reread.body,
                                   reread.body + reread.body_size) == body);
        Check(reread.headers_size == push.headers_size);
      }
    }
  }
  std::string key;
  const uint8_t* pdu = nullptr;
  size_t pdu_size = 0;
  if (mms::pushrouter::ParseHandoverRequest(data, size, &key, &pdu,
                                            &pdu_size)) {
    Check(Within(pdu, pdu_size, data, size));
    std::vector<uint8_t> again;
    if (mms::pushrouter::BuildHandoverRequest(
            key, std::vector<uint8_t>(pdu, pdu + pdu_size), &again)) {
      Check(again == std::vector<uint8_t>(data, data + size));
    }
  }
  std::vector<uint8_t> wrapped;
  if (BuildPushDatagram(0, mms::pushrouter::kMmsMessageType, {},
                        std::vector<uint8_t>(data, data + size), &wrapped)) {
    PushDatagram reread;
    Check(ParsePushDatagram(wrapped.data(), wrapped.size(), &reread) ==
          DatagramError::kNone);
    Check(reread.well_known_code == mms::pushrouter::kWellKnownMmsMessage);
    Check(reread.body_size == size);
  }
  return 0;
}
