// transport.h: moving PDUs between the device and the MMS centre over HTTP,
// through the operator's WAP proxy, on the connection of connection.h.
#ifndef MMS_TRANSPORT_TRANSPORT_H_
#define MMS_TRANSPORT_TRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "mms.h"

// What a send thread hands to SubmitMMS: its own copy of one PDU.
struct SendJob {
  unsigned char* pPdu;  // owned by the send thread, LocalAlloc
  int32_t nLength;      // bytes at pPdu
};

// Fetches the message at the URL in location (an "http://" URL, requested
// as announced) into a new message file. Only a 2xx answer holding an
// m-retrieve-conf is stored. On success (0) location holds the file's
// device path (capacity characters, terminator included), "NewMMSName"
// names it and "NewMMS" 1 with a new "ReciveState" announce it. -1 on
// failure (logged), with no file and no registry value left behind.
// *has_transaction_id and *transaction_id (when given) tell the stored
// message's X-Mms-Transaction-Id, read from the bytes this call stored.
int RetrieveMMS(wchar_t* location, size_t capacity,
                bool* has_transaction_id = nullptr,
                std::string* transaction_id = nullptr);

// Posts the PDU of job to the MMS centre. A send request is accepted (0)
// only by an m-send-conf with X-Mms-Response-Status Ok; its Message-ID is
// published as "MessageID" when publishes_message_id (a user's message).
// Other PDUs (acknowledgements) are accepted by any 2xx answer. It is
// posted again only while it could not be sent whole; -1 on failure, with
// the reason logged.
int SubmitMMS(const SendJob* job, bool publishes_message_id = true);

namespace mms::transport {

// What one submission came to, for the tools that show it.
struct SubmissionReport {
  bool accepted = false;
  uint8_t message_type = 0;     // of the PDU posted
  long http_status = 0;         // 0 when no answer came
  uint8_t response_status = 0;  // X-Mms-Response-Status; 0 when none
  std::string response_text;    // X-Mms-Response-Text, as sent
  std::string message_id;
  std::string reason;  // one line; empty when accepted
};
// Called on the submitting thread at the end of every submission; null
// removes it.
using SubmissionHook = std::function<void(const SubmissionReport&)>;
void SetSubmissionHook(SubmissionHook hook);

}  // namespace mms::transport

// The reader of the centre's reply to a submission.
class SendConfirmation {
 public:
  SendConfirmation(const unsigned char* data, int length);
  ~SendConfirmation();
  SendConfirmation(const SendConfirmation&) = delete;
  SendConfirmation& operator=(const SendConfirmation&) = delete;

  // One forward walk over the reply.
  void Parse();
  // Frees the text buffers (also done by the destructor).
  void Release();

  uint8_t message_type() const { return message_type_; }
  uint8_t response_status() const { return response_status_; }
  const char* transaction_id() const { return transaction_id_; }
  const char* message_id() const { return message_id_; }
  const char* response_text() const { return response_text_; }

 private:
  int length_;                 // reply bytes received
  const unsigned char* data_;  // the reply, borrowed
  uint8_t message_type_ = 0;
  char* transaction_id_;  // LocalAlloc, MAX_PATH
  char* message_id_;      // LocalAlloc, MAX_PATH
  uint8_t response_status_ = 0;
  char* response_text_;  // LocalAlloc, MAX_PATH
};

#endif  // MMS_TRANSPORT_TRANSPORT_H_
