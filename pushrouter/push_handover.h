// push_handover.h: the acknowledged hand-over of one push to the router,
// as the modem bridge uses it.
//
// A request is one UDP datagram to the router's loopback port:
//   "MMSHANDOVER1 " KEY "\n" PUSH-PDU
// and the router answers the sender with one datagram:
//   "MMSHANDOVER1 " KEY " " OUTCOME "\n"
// KEY names the push (1 to 64 of [0-9A-Za-z._-]); the router remembers the
// keys it stored, so a push handed over again is a duplicate, not a second
// push. A plain push datagram never starts with these bytes: its second
// byte is the PDU type 0x06.
#ifndef MMS_PUSHROUTER_PUSH_HANDOVER_H_
#define MMS_PUSHROUTER_PUSH_HANDOVER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mms::pushrouter {

enum class HandoverOutcome {
  kStored,     // committed to the queue
  kDuplicate,  // this key was stored before
  kRefused,    // malformed, or not an MMS PDU: never worth a retry
  kLater,      // nobody registered the content type, or the store failed
};

// "stored", "duplicate", "refused", "later".
const char* HandoverOutcomeName(HandoverOutcome outcome);

[[nodiscard]] bool IsHandoverRequest(const uint8_t* data, size_t size);

[[nodiscard]] bool BuildHandoverRequest(const std::string& key,
                                        const std::vector<uint8_t>& pdu,
                                        std::vector<uint8_t>* datagram);
// The key and the borrowed push PDU of a request; false when malformed.
[[nodiscard]] bool ParseHandoverRequest(const uint8_t* data, size_t size,
                                        std::string* key, const uint8_t** pdu,
                                        size_t* pdu_size);

std::string BuildHandoverReply(const std::string& key, HandoverOutcome outcome);

// Sends the request to the router at 127.0.0.x:port and waits for the
// answer naming the key (one second per try, three tries; the router's
// duplicate check makes a retry safe). A push too large for the router is
// refused without asking. False with a one-line reason when no answer came.
[[nodiscard]] bool HandOverPush(const std::string& address, int port,
                                const std::string& key,
                                const std::vector<uint8_t>& pdu,
                                HandoverOutcome* outcome, std::string* error);

}  // namespace mms::pushrouter

#endif  // MMS_PUSHROUTER_PUSH_HANDOVER_H_
