// retrieve.cc: fetching an announced message from the MMS centre into a
// new message file.
//
// The request path is "//" and the URL's last segment, asked of the URL's
// host through the WAP proxy; the stored file is the body followed by two
// zero bytes. Failures are silent but for three log lines.
#include <wchar.h>

#include <memory>
#include <string>

#include "client/registry_values.h"
#include "client/store.h"
#include "diag/log.h"
#include "transport/connection.h"
#include "transport/internet_handles.h"
#include "transport/operator.h"
#include "transport/transport.h"
#include "transport/wininet.h"

namespace {

constexpr wchar_t kScheme[] = L"http://";
constexpr size_t kSchemeChars = 7;
constexpr size_t kMaxHostChars = 31;     // the host buffer's room
constexpr size_t kMaxSegmentChars = 29;  // "//" + segment fit 31

struct RetrievalUrl {
  std::wstring host;          // may carry ":port"
  std::wstring request_path;  // "//" + last segment
};

// Splits "http://host/.../last". Segments between host and last are
// dropped, as the centre serves messages by their last segment alone.
bool SplitUrl(const wchar_t* url, RetrievalUrl* out) {
  const std::wstring text(url);
  if (text.compare(0, kSchemeChars, kScheme) != 0) {
    return false;
  }
  const size_t host_end = text.find(L'/', kSchemeChars);
  if (host_end == std::wstring::npos) {
    return false;
  }
  const size_t last_slash = text.rfind(L'/');
  out->host = text.substr(kSchemeChars, host_end - kSchemeChars);
  const std::wstring segment = text.substr(last_slash + 1);
  if (out->host.size() > kMaxHostChars || segment.size() > kMaxSegmentChars) {
    return false;
  }
  out->request_path = L"//" + segment;
  return true;
}

struct LocalBlock {
  void operator()(void* p) const { LocalFree(p); }
};

}  // namespace

int RetrieveMMS(wchar_t* location, size_t capacity) {
  if (location == nullptr || *location == L'\0' ||
      wcsstr(location, kScheme) == nullptr) {
    return -1;
  }
  RetrievalUrl url;
  if (!SplitUrl(location, &url)) {
    return -1;
  }
  LogText(GetLog(), L"%ls", location);
  LogText(GetLog(), L"%ls", url.request_path.c_str());

  if (OpenSharedConnection() == 0) {
    LogText(GetLog(), L"EstablishConnection Error\n");
    return -1;
  }

  const std::wstring proxy = mms::transport::WapProxy();
  mms::transport::InternetHandles h;
  for (int attempt = 0;; ++attempt) {
    h.Close();
    h.session = InternetOpenW(L"Corvix.exe", INTERNET_OPEN_TYPE_PROXY,
                              proxy.c_str(), nullptr, 0);
    if (h.session == nullptr) {
      return -1;
    }
    h.connection = InternetConnectW(h.session, url.host.c_str(),
                                    INTERNET_DEFAULT_HTTP_PORT, nullptr,
                                    nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (h.connection == nullptr) {
      return -1;
    }
    h.request = HttpOpenRequestW(h.connection, L"GET", url.request_path.c_str(),
                                 L"HTTP/1.1", nullptr, nullptr,
                                 INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (h.request == nullptr) {
      return -1;
    }
    if (HttpSendRequestW(h.request, nullptr, 0, nullptr, 0)) {
      break;
    }
    if (attempt == 3) {
      return -1;
    }
  }

  DWORD content_length = 0;
  DWORD size = sizeof content_length;
  if (!HttpQueryInfoW(h.request,
                      HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                      &content_length, &size, nullptr)) {
    return -1;
  }
  // A length no message comes near is a buffer the device cannot spare.
  if (content_length > mms::transport::kMaxResponseBodyBytes) {
    return -1;
  }
  const size_t stored = size_t{content_length} + 2;
  std::unique_ptr<unsigned char, LocalBlock> body(
      static_cast<unsigned char*>(LocalAlloc(LPTR, stored)));
  if (!body) {
    return -1;
  }
  DWORD read = 0;
  if (!InternetReadFile(h.request, body.get(), content_length, &read)) {
    return -1;
  }

  wchar_t path[260] = {};
  mms::client::StoreFailure failure = mms::client::StoreFailure::kNone;
  if (!mms::client::StoreMessageFile(body.get(), static_cast<int>(stored), path,
                                     &failure)) {
    LogText(GetLog(), failure == mms::client::StoreFailure::kCreate
                          ? L"CreateFile\n"
                          : L"WriteFile\n");
    return -1;
  }
  if (wcslen(path) + 1 > capacity) {
    DeleteFileW(path);  // the caller could not be told where it is
    return -1;
  }
  wcscpy(location, path);
  const mms::client::GroupValue group[] = {
      mms::client::TextValue(mms::client::kNewMmsName, path),
      mms::client::DwordValue(mms::client::kNewMms, 1)};
  (void)mms::client::WriteStatusGroup(mms::client::kReciveState, group, 2);
  return 0;
}
