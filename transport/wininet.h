// wininet.h: the synchronous HTTP client calls the library makes, under the
// names it makes them by, carried out with libcurl (http_client.cc).
//
// A request runs whole inside HttpSendRequestW: the response headers and
// the body (up to kMaxResponseBodyBytes) are kept in the request handle and
// handed out by HttpQueryInfoW and InternetReadFile. A transfer is a
// cancellation point: a thread that TerminateThread ends stops within a
// fraction of a second, its handles still valid for the caller to close.
#ifndef MMS_TRANSPORT_WININET_H_
#define MMS_TRANSPORT_WININET_H_

#include <cstddef>
#include <functional>

#include "platform/winapi.h"

typedef void* HINTERNET;
typedef WORD INTERNET_PORT;

#define INTERNET_OPEN_TYPE_PRECONFIG 0u
#define INTERNET_OPEN_TYPE_DIRECT 1u
#define INTERNET_OPEN_TYPE_PROXY 3u
#define INTERNET_INVALID_PORT_NUMBER 0
#define INTERNET_DEFAULT_HTTP_PORT 80
#define INTERNET_SERVICE_HTTP 3u
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define HTTP_QUERY_CONTENT_LENGTH 5u
#define HTTP_QUERY_STATUS_CODE 19u
#define HTTP_QUERY_FLAG_NUMBER 0x20000000u

#define ERROR_INTERNET_CANNOT_CONNECT 12029u
#define ERROR_INTERNET_TIMEOUT 12002u
#define ERROR_INTERNET_OPERATION_CANCELLED 12017u
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018u
#define ERROR_HTTP_HEADER_NOT_FOUND 12150u
#define ERROR_INTERNET_CONNECTION_RESET 12031u

HINTERNET InternetOpenW(const wchar_t* agent, DWORD access_type,
                        const wchar_t* proxy, const wchar_t* proxy_bypass,
                        DWORD flags);
// server may name a port ("host:port"); it wins over port, and port 0
// means the HTTP default, 80.
HINTERNET InternetConnectW(HINTERNET session, const wchar_t* server,
                           INTERNET_PORT port, const wchar_t* user,
                           const wchar_t* password, DWORD service, DWORD flags,
                           uintptr_t context);
HINTERNET HttpOpenRequestW(HINTERNET connection, const wchar_t* verb,
                           const wchar_t* object, const wchar_t* version,
                           const wchar_t* referrer,
                           const wchar_t** accept_types, DWORD flags,
                           uintptr_t context);
// headers: lines separated by "\r\n"; headers_length in characters, or
// (DWORD)-1 for a NUL-terminated text.
BOOL HttpSendRequestW(HINTERNET request, const wchar_t* headers,
                      DWORD headers_length, const void* optional,
                      DWORD optional_length);
BOOL HttpQueryInfoW(HINTERNET request, DWORD info_level, void* buffer,
                    DWORD* buffer_length, DWORD* index);
// Copies up to to_read bytes of the body that have not been read yet. A
// body that ended before its Content-Length fails once its bytes are used
// up, as does one that was too large to keep.
BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD to_read,
                      DWORD* read);
BOOL InternetCloseHandle(HINTERNET handle);

namespace mms::transport {

// Largest response body a request keeps; a larger one is not downloaded.
constexpr size_t kMaxResponseBodyBytes = 8u * 1024u * 1024u;

// A transfer that moves no byte for this long (nominal, under the test
// time scale) fails as timed out.
constexpr DWORD kStallTimeoutMs = 60000;

// Every transfer has an overall deadline (nominal, under the test time
// scale): the base plus one second per kTransferMinBytesPerSecond bytes of
// the body (its Content-Length, or without one the bytes received so far),
// at most the cap. A slow drip cannot keep a thread for ever.
constexpr DWORD kTransferDeadlineBaseMs = 30000;
constexpr DWORD kTransferMinBytesPerSecond = 2048;
constexpr DWORD kTransferDeadlineCapMs = 600000;

// True when the last HttpSendRequestW of request handed its whole body to
// the connection (or got an answer): the server may hold it, so posting it
// again could deliver it twice. False when the connection could not be
// made or broke before the body went out.
bool RequestBodySent(HINTERNET request);

// Called during transfers with bytes sent/received so far and the totals
// when known (0 otherwise); tools use it to show progress. Null removes it.
using TransferProgressHook = std::function<void(
    size_t sent, size_t send_total, size_t received, size_t receive_total)>;
void SetTransferProgressHook(TransferProgressHook hook);

// Sets up the HTTP layer for the process (once; later calls do nothing).
// Called on a client's thread before the first worker starts, so that no
// worker sets it up while the process exits. It is never torn down: a
// worker may still be ending while the process exits.
void InitHttp();

}  // namespace mms::transport

#endif  // MMS_TRANSPORT_WININET_H_
