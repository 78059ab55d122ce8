// records.h: the plain records that the encoder and the decoder share.
//
// Every pointer a record holds is owned by it and comes from
// LocalAlloc(LPTR, ...); texts are 8-bit and NUL-terminated.
#ifndef MMS_CODEC_RECORDS_H_
#define MMS_CODEC_RECORDS_H_

#include "mms.h"

// Header fields of one PDU. The decoder fills it; the send-request encoder
// uses only nHeaderLength.
struct MMS_Header {
  unsigned char nMsgType;     // X-Mms-Message-Type value byte
  char* pszTransactionId;     // X-Mms-Transaction-Id
  unsigned char nMmsVersion;  // X-Mms-MMS-Version value byte
  char* pszMessageId;         // Message-ID
  SYSTEMTIME* pDate;          // Date, local time, 16-byte block
  char* pszFrom;              // From, without token and "/..." suffix
  char* pszTo;                // To, type suffix kept
  char* pszCc;                // every Cc, run together
  char* pszSubject;           // Subject bytes
  unsigned char byMessageClass;
  unsigned char byPriority;
  unsigned char byDeliveryReport;
  unsigned char byReadReport;
  unsigned char* pContentType;  // 163, or the Type parameter's text
  char* pszStart;               // Start parameter, brackets kept
  unsigned char bySenderVisibility;
  uint32_t nExpiryTime;   // seconds from Expiry / Delivery-Time
  int32_t nHeaderLength;  // bytes of the header block (encoder)
};

// Attributes of one multipart entry.
struct MMS_PartInfo {
  unsigned char* pContentType;  // decoder: content-type value as received
  char* pszContentId;           // decoder: Content-ID without quote byte
  char* pszName;                // encoder: file name; decoder: Content-Location
  unsigned char nKind;          // encoder: media kind code
};

// One multipart entry.
struct MMS_Part {
  int32_t nHeaderLength;  // bytes of the entry's header block
  int32_t nDataLength;    // bytes of data
  int32_t nLengthSize;    // bytes of the DataLen uintvar (encoder)
  MMS_PartInfo* pInfo;    // owned
  unsigned char* pData;   // nDataLength bytes, owned
};

// A multipart body.
struct MMS_Body {
  MMS_Part* pPart[32];  // decoder: entry being handled, by index
  int32_t nBodyLength;  // encoder: bytes of the encoded body
  int32_t nPartCount;   // decoder: entries the PDU announced
};

// Frees every owned pointer of the header that is set and clears it; safe
// on a partly filled record and when called twice. The record itself stays.
void FreeMmsHeader(MMS_Header* header);

#endif  // MMS_CODEC_RECORDS_H_
