// wap_push.h: one decoded WAP push (WapPush_Message) and the free
// functions behind CMMS's push members.
//
// Every pointer field is its own LocalAlloc block owned by the record;
// texts are the PDU's 8-bit bytes, zero-terminated. A field whose header
// did not occur stays zero or null. FreeWapPushMessage releases it all.
#ifndef MMS_PUSH_WAP_PUSH_H_
#define MMS_PUSH_WAP_PUSH_H_

#include <cstddef>
#include <cstdint>

#include "mms.h"

struct WapPush_Message {
  uint32_t dwReserved[8];     // leading block; never written or read
  unsigned char nMsgType;     // X-Mms-Message-Type byte (130 notification)
  char* pszTransactionId;     // at most 63 bytes
  unsigned char nMmsVersion;  // raw byte, 0x90 for 1.0
  char* pszContentLocation;   // at most 63 bytes
  unsigned char* pExpiry;     // raw value bytes, at most 63, zero-ended
  char* pszFrom;              // number part, at most 31 characters
  char* pszTo;                // number part, at most 31 characters
  char* pszSubject;           // at most 255 bytes; UTF-8 when tagged so
  unsigned char nMsgClass;
  uint32_t nMsgSize;  // bytes, from the last four octets
  unsigned char nResponseStatus;
  char* pszResponseText;  // at most 63 bytes
  unsigned char nStatus;  // X-Mms-Status byte (129 Retrieved)
  unsigned char nReportAllowed;
  char* pszMessageId;  // at most 259 bytes
  SYSTEMTIME* pDate;   // local time
};

// Copies source up to, not including, its first '/' into dest (260 bytes)
// and ends it with 0. 0 when either pointer is null (nothing written).
int CutAddressType(char* source, char* dest);

namespace mms::push {

// Field limits, in bytes without the terminator.
constexpr size_t kShortTextLimit = 63;  // IDs, expiry, texts
constexpr size_t kLocationLimit = 259;  // Content-Location, whole
constexpr size_t kFromValueLimit = 64;  // whole From value
constexpr size_t kNumberLimit = 31;     // number part of From and To
constexpr size_t kSubjectLimit = 255;
constexpr size_t kLongTextLimit = 259;  // Message-ID, To text

// Scans length bytes of a push body into message (fields already set are
// overwritten by later occurrences). Never reads past body + length.
void DecodePushBody(const uint8_t* body, size_t length,
                    WapPush_Message* message);

// A new zero-filled record holding the decoded body of push; null when
// out of memory or push is null.
WapPush_Message* DecodePush(const PUSHMSG* push);

// Frees every pointer field, then the record. Null is harmless.
void FreeWapPushMessage(WapPush_Message* message);

}  // namespace mms::push

#endif  // MMS_PUSH_WAP_PUSH_H_
