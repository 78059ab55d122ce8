// transport.h: moving PDUs between the device and the MMS centre over HTTP,
// through the operator's WAP proxy, on the connection of connection.h.
#ifndef MMS_TRANSPORT_TRANSPORT_H_
#define MMS_TRANSPORT_TRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mms.h"

// What a send thread hands to SubmitMMS: its own copy of one PDU.
struct SendJob {
  unsigned char* pPdu;  // owned by the send thread, LocalAlloc
  int32_t nLength;      // bytes at pPdu
};

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

// Fetches the message at the URL in location (an "http://" URL of at most
// capacity characters, requested as announced) into *body. Only a 2xx
// answer holding an m-retrieve-conf is taken (0); -1 on failure, logged.
int FetchMessage(const wchar_t* location, size_t capacity,
                 std::vector<unsigned char>* body);

// Posts the PDU of job (not null) to the MMS centre and judges the answer
// into *report. A send request is accepted only by an m-send-conf with
// X-Mms-Response-Status Ok; other PDUs (acknowledgements) by any 2xx
// answer. It is posted again only while it could not be sent whole.
void PostPdu(const SendJob* job, SubmissionReport* report);

// Ends a submission: a refused one is logged with its reason, the hook is
// told. 0 when accepted, else -1.
int FinishSubmission(const SubmissionReport* report);

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
