// http_client.cc: the HTTP client calls of wininet.h over libcurl.
//
// Handles live in the platform handle table, so a stale or doubly closed
// handle fails with ERROR_INVALID_HANDLE instead of crashing, and a request
// closed by another thread while it runs is freed when the call returns.
// Each handle copies what it needs from its parent, so closing in any order
// is safe. Transfers run on a curl multi handle polled in short slices, which
// is what lets a cancelled thread stop promptly.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/handle_table.h"
#include "platform/owned.h"
#include "platform/text_convert.h"
#include "platform/thread.h"
#include "transport/wininet.h"

namespace {

enum class Kind { kSession, kConnection, kRequest };

struct Handle : mms::platform::HandleObject {
  explicit Handle(Kind k) : kind(k) {}
  bool ClosedByCloseHandle() const override { return false; }
  Kind kind;
};

struct Session : Handle {
  Session() : Handle(Kind::kSession) {}
  std::string agent;
  std::string proxy;  // empty: direct
};

struct Connection : Handle {
  Connection() : Handle(Kind::kConnection) {}
  std::string agent;
  std::string proxy;
  std::string host;
  unsigned port = INTERNET_DEFAULT_HTTP_PORT;
};

struct Request : Handle {
  Request() : Handle(Kind::kRequest) {}
  // What to send.
  std::string agent;
  std::string proxy;
  std::string url;
  std::string verb;
  long http_version = CURL_HTTP_VERSION_1_1;
  std::string accept;  // empty: no Accept header
  // What came back; reset by every send.
  long status = 0;
  bool has_content_length = false;
  uint64_t content_length = 0;
  std::vector<uint8_t> body;
  size_t read_offset = 0;
  bool body_short = false;      // ended before its Content-Length
  bool body_too_large = false;  // larger than kMaxResponseBodyBytes
  bool body_sent = false;       // the request body went out whole
};

std::mutex g_hook_mu;
mms::transport::TransferProgressHook g_hook;  // guarded by g_hook_mu

HINTERNET Register(std::shared_ptr<Handle> handle) {
  return mms::platform::AddHandle(std::move(handle));
}

// The object stays alive while the caller holds it, closed or not.
template <typename T>
std::shared_ptr<T> Lookup(HINTERNET h, Kind kind) {
  std::shared_ptr<Handle> handle =
      mms::platform::LookupHandle<Handle>(static_cast<HANDLE>(h));
  if (handle == nullptr) {
    return nullptr;
  }
  if (handle->kind != kind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(handle);
}

std::string Narrow(const wchar_t* text, int length = -1) {
  std::string out;
  if (text == nullptr || length == 0 ||
      !mms::platform::WideToUtf8Text(
          length < 0 ? std::wstring(text)
                     : std::wstring(text, static_cast<size_t>(length)),
          &out)) {
    out.clear();
  }
  return out;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* request = static_cast<Request*>(user);
  const size_t n = size * count;
  std::string line(data, n);
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new response (after 100 Continue or a proxy's answer): start over.
    request->has_content_length = false;
    request->content_length = 0;
    return n;
  }
  static const char kName[] = "content-length:";
  if (line.size() > sizeof kName - 1 &&
      strncasecmp(line.c_str(), kName, sizeof kName - 1) == 0) {
    const char* p = line.c_str() + sizeof kName - 1;
    while (*p == ' ' || *p == '\t') {
      ++p;
    }
    uint64_t value = 0;
    bool digits = false;
    while (*p >= '0' && *p <= '9') {
      digits = true;
      if (value > (UINT64_MAX - 9) / 10) {
        return 0;  // absurd length: fail the transfer
      }
      value = value * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
    }
    if (digits) {
      request->has_content_length = true;
      request->content_length = value;
    }
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* request = static_cast<Request*>(user);
  const size_t n = size * count;
  const size_t cap = mms::transport::kMaxResponseBodyBytes;
  if ((request->has_content_length && request->content_length > cap) ||
      request->body.size() + n > cap) {
    request->body_too_large = true;
    return 0;  // stop downloading; the request itself succeeded
  }
  request->body.insert(request->body.end(), data, data + n);
  return n;
}

int OnProgress(void*, curl_off_t down_total, curl_off_t down_now,
               curl_off_t up_total, curl_off_t up_now) {
  if (mms::platform::CancelRequested()) {
    return 1;
  }
  std::lock_guard<std::mutex> lock(g_hook_mu);
  if (g_hook) {
    g_hook(static_cast<size_t>(up_now), static_cast<size_t>(up_total),
           static_cast<size_t>(down_now), static_cast<size_t>(down_total));
  }
  return 0;
}

// The transfer's overall deadline in nominal ms: the base plus its bytes
// (the body's Content-Length, or the bytes received so far without one,
// and what is sent) over the minimum rate, at most the cap.
uint32_t DeadlineMs(CURL* easy) {
  curl_off_t down_total = -1;
  curl_off_t down_now = 0;
  curl_off_t up_total = -1;
  curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &down_total);
  curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down_now);
  curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_UPLOAD_T, &up_total);
  uint64_t bytes =
      static_cast<uint64_t>(down_total >= 0 ? down_total : down_now);
  if (up_total > 0) {
    bytes += static_cast<uint64_t>(up_total);
  }
  const uint64_t ms = mms::transport::kTransferDeadlineBaseMs +
                      bytes * 1000 / mms::transport::kTransferMinBytesPerSecond;
  return static_cast<uint32_t>(
      std::min<uint64_t>(ms, mms::transport::kTransferDeadlineCapMs));
}

// Runs the transfer on a multi handle, checking for cancellation and the
// overall deadline between short polls. Returns the transfer's result,
// CURLE_OPERATION_TIMEDOUT past the deadline, or CURLE_ABORTED_BY_CALLBACK
// when the thread was asked to end.
CURLcode Perform(CURL* easy) {
  const auto started = std::chrono::steady_clock::now();
  mms::platform::Owned<CURLM, curl_multi_cleanup> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
    return CURLE_OUT_OF_MEMORY;
  }
  CURLcode result = CURLE_OK;
  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      break;
    }
    if (mms::platform::CancelRequested()) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    // Like the stall limit, never under a second of real time.
    const uint32_t deadline_ms =
        std::max<uint32_t>(1000, mms::platform::ScaledMs(DeadlineMs(easy)));
    if (std::chrono::steady_clock::now() - started >=
        std::chrono::milliseconds(deadline_ms)) {
      result = CURLE_OPERATION_TIMEDOUT;  // a slow drip ends here
      break;
    }
    curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
  }
  if (running == 0) {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
        result = msg->data.result;
      }
    }
  }
  curl_multi_remove_handle(multi.get(), easy);
  return result;
}

std::string HeadersFrom(const wchar_t* headers, DWORD length) {
  if (headers == nullptr) {
    return std::string();
  }
  if (length == static_cast<DWORD>(-1)) {
    return Narrow(headers);
  }
  return Narrow(headers, static_cast<int>(length));
}

DWORD ErrorFor(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_CANNOT_CONNECT;
    default:
      return ERROR_INTERNET_CONNECTION_RESET;
  }
}

// "host:port" and "[v6]:port" name their own port, which wins; a bare
// IPv6 address has none. False for a port that is not 1 to 65535.
bool SplitPort(std::string* host, unsigned* port) {
  size_t colon = std::string::npos;
  if ((*host)[0] == '[') {
    const size_t close = host->find(']');
    if (close == std::string::npos) {
      return false;
    }
    if (close + 1 < host->size()) {
      if ((*host)[close + 1] != ':') {
        return false;
      }
      colon = close + 1;
    }
  } else if (std::count(host->begin(), host->end(), ':') == 1) {
    colon = host->find(':');
  }
  if (colon == std::string::npos) {
    return true;
  }
  const std::string digits = host->substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned value = static_cast<unsigned>(std::stoul(digits));
  if (value == 0 || value > 65535) {
    return false;
  }
  *port = value;
  host->erase(colon);
  return true;
}

}  // namespace

HINTERNET InternetOpenW(const wchar_t* agent, DWORD access_type,
                        const wchar_t* proxy, const wchar_t*, DWORD) {
  InitCurlOnce();
  auto session = std::make_shared<Session>();
  session->agent = Narrow(agent);
  if (access_type == INTERNET_OPEN_TYPE_PROXY) {
    session->proxy = Narrow(proxy);
    if (session->proxy.empty()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  return Register(std::move(session));
}

HINTERNET InternetConnectW(HINTERNET session_handle, const wchar_t* server,
                           INTERNET_PORT port, const wchar_t*, const wchar_t*,
                           DWORD service, DWORD, uintptr_t) {
  auto session = Lookup<Session>(session_handle, Kind::kSession);
  if (session == nullptr) {
    return nullptr;
  }
  std::string host = Narrow(server);
  if (host.empty() || service != INTERNET_SERVICE_HTTP) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  connection->agent = session->agent;
  connection->proxy = session->proxy;
  connection->port =
      port == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_HTTP_PORT : port;
  if (!SplitPort(&host, &connection->port)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  connection->host = host;
  return Register(std::move(connection));
}

HINTERNET HttpOpenRequestW(HINTERNET connection_handle, const wchar_t* verb,
                           const wchar_t* object, const wchar_t* version,
                           const wchar_t*, const wchar_t** accept_types, DWORD,
                           uintptr_t) {
  auto connection = Lookup<Connection>(connection_handle, Kind::kConnection);
  if (connection == nullptr) {
    return nullptr;
  }
  auto request = std::make_shared<Request>();
  request->agent = connection->agent;
  request->proxy = connection->proxy;
  request->verb = verb != nullptr ? Narrow(verb) : "GET";
  std::string path = object != nullptr ? Narrow(object) : "/";
  if (path.empty() || path[0] != '/') {
    path.insert(0, "/");
  }
  request->url = "http://" + connection->host + ":" +
                 std::to_string(connection->port) + path;
  const std::string v = version != nullptr ? Narrow(version) : "HTTP/1.1";
  request->http_version =
      v == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1;
  if (accept_types != nullptr) {
    for (const wchar_t** t = accept_types; *t != nullptr; ++t) {
      if (!request->accept.empty()) {
        request->accept += ", ";
      }
      request->accept += Narrow(*t);
    }
  }
  return Register(std::move(request));
}

BOOL HttpSendRequestW(HINTERNET request_handle, const wchar_t* headers,
                      DWORD headers_length, const void* optional,
                      DWORD optional_length) {
  auto request = Lookup<Request>(request_handle, Kind::kRequest);
  if (request == nullptr) {
    return FALSE;
  }
  request->status = 0;
  request->has_content_length = false;
  request->content_length = 0;
  request->body.clear();
  request->read_offset = 0;
  request->body_short = false;
  request->body_too_large = false;
  request->body_sent = false;

  mms::platform::Owned<CURL, curl_easy_cleanup> easy(curl_easy_init());
  if (!easy) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  CURL* c = easy.get();
  curl_easy_setopt(c, CURLOPT_URL, request->url.c_str());
  curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);  // "//" stays "//"
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, request->http_version);
  curl_easy_setopt(c, CURLOPT_USERAGENT, request->agent.c_str());
  curl_easy_setopt(c, CURLOPT_PROXY, request->proxy.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROXY, "");  // ignore no_proxy: always proxy
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  const long connect_ms = std::max<long>(200, mms::platform::ScaledMs(30000));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connect_ms);
  const long stall_s = std::max<long>(
      1, mms::platform::ScaledMs(mms::transport::kStallTimeoutMs) / 1000);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, stall_s);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, request.get());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, request.get());
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);

  curl_slist* list = nullptr;
  auto append = [&list](const std::string& line) {
    if (curl_slist* grown = curl_slist_append(list, line.c_str())) {
      list = grown;
    }
  };
  append("Expect:");  // no 100-continue round trip
  append(request->accept.empty() ? "Accept:" : "Accept: " + request->accept);
  const std::string extra = HeadersFrom(headers, headers_length);
  size_t start = 0;
  while (start < extra.size()) {
    size_t end = extra.find("\r\n", start);
    if (end == std::string::npos) {
      end = extra.size();
    }
    if (end > start) {
      append(extra.substr(start, end - start));
    }
    start = end + 2;
  }
  mms::platform::Owned<curl_slist, curl_slist_free_all> header_list(list);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, header_list.get());

  if (request->verb == "POST") {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(optional ? optional_length : 0));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, optional ? optional : "");
  } else if (request->verb == "GET") {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request->verb.c_str());
  }

  const CURLcode result = Perform(c);
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &request->status);
  curl_off_t uploaded = 0;
  curl_easy_getinfo(c, CURLINFO_SIZE_UPLOAD_T, &uploaded);
  const curl_off_t body_bytes =
      request->verb == "POST" && optional != nullptr ? optional_length : 0;
  // Handed whole to the connection (or answered): the peer may have it.
  request->body_sent = request->status > 0 ||
                       (result != CURLE_COULDNT_CONNECT &&
                        result != CURLE_COULDNT_RESOLVE_HOST &&
                        result != CURLE_COULDNT_RESOLVE_PROXY &&
                        result != CURLE_SEND_ERROR && uploaded >= body_bytes);
  easy.reset();
  header_list.reset();

  if (result == CURLE_ABORTED_BY_CALLBACK && mms::platform::CancelRequested()) {
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    mms::platform::CancellationPoint();  // unwinds this thread
  }
  if (result == CURLE_OK) {
    return TRUE;
  }
  if (request->status > 0) {
    // The response arrived but its body did not come whole: the request
    // succeeded and reading the body fails.
    if (!request->body_too_large) {
      request->body_short = true;
    }
    return TRUE;
  }
  SetLastError(ErrorFor(result));
  return FALSE;
}

BOOL HttpQueryInfoW(HINTERNET request_handle, DWORD info_level, void* buffer,
                    DWORD* buffer_length, DWORD*) {
  auto request = Lookup<Request>(request_handle, Kind::kRequest);
  if (request == nullptr || buffer_length == nullptr) {
    return FALSE;
  }
  const DWORD what = info_level & 0xFFFFu;
  uint64_t value = 0;
  if (what == HTTP_QUERY_CONTENT_LENGTH && request->has_content_length) {
    value = request->content_length;
  } else if (what == HTTP_QUERY_STATUS_CODE && request->status > 0) {
    value = static_cast<uint64_t>(request->status);
  } else {
    SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
  }
  if (info_level & HTTP_QUERY_FLAG_NUMBER) {
    if (value > UINT32_MAX) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (buffer == nullptr || *buffer_length < sizeof(DWORD)) {
      *buffer_length = sizeof(DWORD);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    const DWORD number = static_cast<DWORD>(value);
    std::memcpy(buffer, &number, sizeof number);
    *buffer_length = sizeof number;
    return TRUE;
  }
  const std::wstring text = std::to_wstring(value);
  const DWORD need = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  if (buffer == nullptr || *buffer_length < need) {
    *buffer_length = need;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, text.c_str(), need);
  *buffer_length = need - sizeof(wchar_t);
  return TRUE;
}

BOOL InternetReadFile(HINTERNET request_handle, void* buffer, DWORD to_read,
                      DWORD* read) {
  auto request = Lookup<Request>(request_handle, Kind::kRequest);
  if (request == nullptr) {
    return FALSE;
  }
  if (read == nullptr || (buffer == nullptr && to_read > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *read = 0;
  const size_t available = request->body.size() - request->read_offset;
  if (request->body_too_large || (request->body_short && to_read > available)) {
    SetLastError(ERROR_INTERNET_CONNECTION_RESET);
    return FALSE;
  }
  const size_t n = std::min<size_t>(to_read, available);
  if (n > 0) {
    std::memcpy(buffer, request->body.data() + request->read_offset, n);
  }
  request->read_offset += n;
  *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  return mms::platform::TakeHandle<Handle>(static_cast<HANDLE>(handle)) !=
                 nullptr
             ? TRUE
             : FALSE;
}

namespace mms::transport {

void InitHttp() { InitCurlOnce(); }

bool RequestBodySent(HINTERNET request_handle) {
  auto request = Lookup<Request>(request_handle, Kind::kRequest);
  return request != nullptr && request->body_sent;
}

void SetTransferProgressHook(TransferProgressHook hook) {
  std::lock_guard<std::mutex> lock(g_hook_mu);
  g_hook = std::move(hook);
}

}  // namespace mms::transport
