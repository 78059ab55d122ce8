// transfers.h: retrieval and submission as the library runs them: the
// transport moves the bytes (transport/transport.h), the message file and
// the status values are written here.
#ifndef MMS_STORE_TRANSFERS_H_
#define MMS_STORE_TRANSFERS_H_

#include <cstddef>
#include <string>

#include "transport/transport.h"

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

#endif  // MMS_STORE_TRANSFERS_H_
