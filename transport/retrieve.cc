// retrieve.cc: fetching an announced message from the MMS centre (the
// store layer's RetrieveMMS keeps it in a new message file).
//
// The URL is requested as announced (path and query, from the host and
// port it names) through the WAP proxy, or directly when there is none.
// Only a 2xx answer whose body is an m-retrieve-conf is taken; the body
// may come with or without a Content-Length. Every failure after the URL was
// accepted is logged.
#include <wchar.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/header_table.h"
#include "diag/log.h"
#include "transport/connection.h"
#include "transport/internet_handles.h"
#include "transport/operator.h"
#include "transport/transport.h"
#include "transport/url.h"
#include "transport/wininet.h"

namespace {

constexpr int kMaxRetries = 3;
constexpr DWORD kReadChunk = 64 * 1024;

void LogFailure(const std::string& why) {
  LogText(GetLog(), L"retrieval failed: %hs\n", why.c_str());
}

// True for a body that begins as an m-retrieve-conf must.
bool IsRetrieveConf(const std::vector<unsigned char>& body) {
  return body.size() >= 2 && body[0] == (0x80 | mms::codec::kMessageType) &&
         body[1] == mms::codec::kMsgRetrieveConf;
}

std::string Describe(const std::vector<unsigned char>& body) {
  char text[64];
  if (body.empty()) {
    return "an empty body";
  }
  std::snprintf(text, sizeof text, "a body of %zu bytes starting %02X",
                body.size(), body[0]);
  return text;
}

// The whole body, whatever its framing; false when it broke off.
bool ReadBody(HINTERNET request, std::vector<unsigned char>* body) {
  for (;;) {
    const size_t had = body->size();
    body->resize(had + kReadChunk);
    DWORD read = 0;
    if (!InternetReadFile(request, body->data() + had, kReadChunk, &read)) {
      body->resize(had);
      return false;
    }
    body->resize(had + read);
    if (read == 0) {
      return true;
    }
  }
}

}  // namespace

namespace mms::transport {

int FetchMessage(const wchar_t* location, size_t capacity,
                 std::vector<unsigned char>* body) {
  if (location == nullptr || *location == L'\0') {
    return -1;
  }
  HttpUrl url;
  std::string why;
  const std::wstring text(location, wcsnlen(location, capacity));
  if (!SplitHttpUrl(text, &url, &why)) {
    // A location that is no http URL, or has no path, fails silently.
    if (wcsstr(location, L"http://") != nullptr &&
        why != "no path after the host") {
      LogText(GetLog(), L"%ls", text.c_str());
      LogFailure(why);
    }
    return -1;
  }
  LogText(GetLog(), L"%ls", text.c_str());
  LogText(GetLog(), L"%ls", url.object.c_str());

  if (OpenSharedConnection() == 0) {
    LogText(GetLog(), L"EstablishConnection Error\n");
    return -1;
  }

  const std::wstring proxy = mms::transport::WapProxy();
  const std::wstring agent = mms::transport::UserAgent();
  const std::wstring headers = mms::transport::ProfileHeader();
  InternetHandles h;
  for (int attempt = 0;; ++attempt) {
    h.Close();
    h.session = InternetOpenW(
        agent.c_str(),
        proxy.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
        proxy.empty() ? nullptr : proxy.c_str(), nullptr, 0);
    if (h.session == nullptr) {
      return -1;
    }
    h.connection = InternetConnectW(h.session, url.authority.c_str(),
                                    INTERNET_DEFAULT_HTTP_PORT, nullptr,
                                    nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (h.connection == nullptr) {
      LogFailure("cannot use the host of the URL");
      return -1;
    }
    h.request =
        HttpOpenRequestW(h.connection, L"GET", url.object.c_str(), L"HTTP/1.1",
                         nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (h.request == nullptr) {
      return -1;
    }
    if (HttpSendRequestW(h.request, headers.c_str(),
                         static_cast<DWORD>(headers.size()), nullptr, 0)) {
      break;
    }
    if (attempt == kMaxRetries) {
      LogFailure("no answer in four attempts");
      return -1;
    }
  }

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(h.request,
                      HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &size, nullptr) ||
      status < 200 || status > 299) {
    LogFailure("HTTP status " + std::to_string(status));
    return -1;
  }
  if (!ReadBody(h.request, body)) {
    LogFailure("the body broke off or passed the size limit");
    return -1;
  }
  if (!IsRetrieveConf(*body)) {
    LogFailure("HTTP status " + std::to_string(status) +
               " with no m-retrieve-conf: " + Describe(*body));
    return -1;
  }
  return 0;
}

}  // namespace mms::transport
