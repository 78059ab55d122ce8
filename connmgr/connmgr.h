// connmgr.h: the Connection Manager and the provisioning entry point, as
// the library calls them, over connection entries kept in the registry
// (their layout is in connmgr_entries.h).
//
// Records keep the phone's field order; handles, pointers and LPARAM are
// the host's size, so sizeof(CONNMGR_CONNECTIONINFO) is 64 on a 32-bit
// build and 80 on LP64. A connection walks through its entry's status
// script, one step per status read; status reads are cancellation points.
#ifndef MMS_CONNMGR_CONNMGR_H_
#define MMS_CONNMGR_CONNMGR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/winapi.h"

typedef LONG HRESULT;
typedef void* HWND;
typedef intptr_t LPARAM;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
// HRESULT of ERROR_INSUFFICIENT_BUFFER: the sizing answer.
constexpr HRESULT kHresultInsufficientBuffer =
    static_cast<HRESULT>(0x8007007Au);

// 16 bytes, as stored in "CurrentID".
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");

// Request fields.
#define CONNMGR_PARAM_GUIDDESTNET 0x1u
#define CONNMGR_FLAG_PROXY_HTTP 0x1u
#define CONNMGR_FLAG_PROXY_WAP 0x2u
#define CONNMGR_FLAG_PROXY_SOCKS4 0x4u
#define CONNMGR_FLAG_PROXY_SOCKS5 0x8u
#define CONNMGR_PRIORITY_USERBACKGROUND 0x2000u

// Connection states.
#define CONNMGR_STATUS_UNKNOWN 0x00u
#define CONNMGR_STATUS_CONNECTED 0x10u
#define CONNMGR_STATUS_DISCONNECTED 0x20u
#define CONNMGR_STATUS_CONNECTIONFAILED 0x21u
#define CONNMGR_STATUS_CONNECTIONCANCELED 0x22u
#define CONNMGR_STATUS_WAITINGFORPHONE 0x26u
#define CONNMGR_STATUS_WAITINGCONNECTION 0x40u
#define CONNMGR_STATUS_WAITINGCONNECTIONABORT 0x81u

// Connection types of the detailed status.
#define CM_CONNTYPE_UNKNOWN 0u
#define CM_CONNTYPE_CELLULAR 1u
#define CM_CONNTYPE_NIC 2u

#define CONNMGR_MAX_DESC 128  // characters, terminator included

// Configuration flags.
#define CFGFLAG_PROCESS 0x0001u

typedef struct _CONNMGR_CONNECTIONINFO {
  DWORD cbSize;      // sizeof(CONNMGR_CONNECTIONINFO)
  DWORD dwParams;    // CONNMGR_PARAM_*: which fields below count
  DWORD dwFlags;     // CONNMGR_FLAG_PROXY_*
  DWORD dwPriority;  // CONNMGR_PRIORITY_*
  BOOL bExclusive;
  BOOL bDisabled;
  GUID guidDestNet;  // destination network
  HWND hWnd;         // status messages: not sent by the stand-in
  UINT uMsg;
  LPARAM lParam;
  DWORD ulMaxCost;  // ULONG on the phone: 32 bits
  DWORD ulMinRcvBw;
  DWORD ulMaxConnLatency;
} CONNMGR_CONNECTIONINFO;
static_assert(sizeof(CONNMGR_CONNECTIONINFO) ==
                  (sizeof(void*) == 4 ? 64u : 80u),
              "the phone's field order, host-sized handles");

typedef struct _CONNMGR_CONNECTION_DETAILED_STATUS {
  struct _CONNMGR_CONNECTION_DETAILED_STATUS* pNext;  // inside the buffer
  DWORD dwVer;
  DWORD dwParams;
  DWORD dwType;  // CM_CONNTYPE_*
  DWORD dwSubtype;
  DWORD dwFlags;
  DWORD dwSecure;
  GUID guidDestNet;
  GUID guidSourceNet;
  wchar_t* szDescription;  // the entry's name, inside the buffer
  wchar_t* szAdapterName;  // null
  DWORD dwConnectionStatus;
  SYSTEMTIME LastConnectTime;
  DWORD dwSignalQuality;
  void* pIPAddr;  // null
} CONNMGR_CONNECTION_DETAILED_STATUS;

typedef struct _CONNMGR_DESTINATION_INFO {
  GUID guid;
  wchar_t szDescription[CONNMGR_MAX_DESC];
  BOOL fSecure;
} CONNMGR_DESTINATION_INFO;

// S_OK and a handle that walks through the status script of the first
// entry leading to info->guidDestNet; an unknown destination still gets a
// handle, which reports CONNMGR_STATUS_CONNECTIONCANCELED from the start.
HRESULT ConnMgrEstablishConnection(CONNMGR_CONNECTIONINFO* info,
                                   HANDLE* connection);
// The next state of the connection's script (the last one repeats).
HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status);
// Ends the request; the handle is invalid afterwards.
HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache_time);
// One block holding the entries as a list: with no buffer, or one smaller
// than *size, kHresultInsufficientBuffer and the size needed in *size.
// No entries at all: S_OK and *size 0.
HRESULT ConnMgrQueryDetailedStatus(CONNMGR_CONNECTION_DETAILED_STATUS* buffer,
                                   DWORD* size);
// The destination network at index (in creation order); E_FAIL past the
// last one.
HRESULT ConnMgrEnumDestinations(int index, CONNMGR_DESTINATION_INFO* info);

// Applies a wap-provisioningdoc (CFGFLAG_PROCESS) and answers its
// parm-query elements. *result receives the answer document, allocated
// with new[]: the caller releases it with delete[]. On failure *result is
// null.
HRESULT DMProcessConfigXML(const wchar_t* document, DWORD flags,
                           wchar_t** result);

namespace mms::connmgr {

// DMProcessConfigXML keeps each document it is given for test::Documents
// (connmgr/test_seams.h).
void RecordDocument(const std::wstring& document);

}  // namespace mms::connmgr

#endif  // MMS_CONNMGR_CONNMGR_H_
