// prepare.h: the preparation that saving and sending share before a
// composed message is encoded, and the release of a message whose
// ownership the library took.
//
// Saving passes message class 0 for a missing option record; sending a
// read report passes 3 (Auto). An existing option record is never changed.
#ifndef MMS_CLIENT_PREPARE_H_
#define MMS_CLIENT_PREPARE_H_

#include "mms.h"

namespace mms::client {

// Overwrites the layout values with the one layout every outgoing
// message has and writes its SMIL document.
void ApplyFixedLayout(MMS_Custom_Data* message);

// Gives the message a zeroed option record (with message_class) when it
// has none, then applies the fixed layout.
// False only when the option record cannot be allocated; the message is
// then unchanged.
bool PrepareForEncoding(MMS_Custom_Data* message, int message_class);

// Releases the option record and SMIL text, then deletes the message:
// what a successful save or send does with the caller's object.
void ReleaseMessage(MMS_Custom_Data* message);

}  // namespace mms::client

#endif  // MMS_CLIENT_PREPARE_H_
