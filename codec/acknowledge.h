// acknowledge.h: the answers the device posts about an announced message
// besides the m-acknowledge-ind of CMMS::MakeDeliveryAcknowledgement.
#ifndef MMS_CODEC_ACKNOWLEDGE_H_
#define MMS_CODEC_ACKNOWLEDGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace mms::codec {

// X-Mms-Status Retrieved.
constexpr uint8_t kStatusRetrieved = 129;

// The X-Mms-Transaction-Id of a PDU's header (the later of two), as
// GetMMSTranscationID reads it from a file; false when there is none.
bool ReadTransactionId(const uint8_t* pdu, size_t size, std::string* id);

// An m-notifyresp-ind for the notification with transaction_id (text,
// zero-ended), with X-Mms-Status status; a LocalAlloc block, its bytes in
// *length, or null.
//
//   8C 83            X-Mms-Message-Type    m-notifyresp-ind
//   98 T.. 00        X-Mms-Transaction-Id  the notification's
//   8D 90            X-Mms-MMS-Version     1.0
//   95 status        X-Mms-Status
//   91 80            X-Mms-Report-Allowed  Yes
unsigned char* MakeNotifyResponse(const char* transaction_id, uint8_t status,
                                  int* length);

}  // namespace mms::codec

#endif  // MMS_CODEC_ACKNOWLEDGE_H_
