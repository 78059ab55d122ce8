// url.cc: splitting the URLs the transport requests.
#include "transport/url.h"

#include <cwctype>

namespace mms::transport {

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  size_t i = 0;
  for (; prefix[i] != L'\0'; ++i) {
    if (i >= text.size() || std::towlower(static_cast<wint_t>(text[i])) !=
                                static_cast<wint_t>(prefix[i])) {
      return false;
    }
  }
  return true;
}

bool IsRequestChar(wchar_t c) { return c > L' ' && c < 0x7F; }

}  // namespace

bool SplitHttpUrl(const std::wstring& url, HttpUrl* out, std::string* why) {
  constexpr size_t kSchemeChars = 7;  // "http://"
  if (StartsWithNoCase(url, L"https://")) {
    *why = "https locations are not supported (no TLS on the MMS connection)";
    return false;
  }
  if (!StartsWithNoCase(url, L"http://")) {
    *why = "not an http:// URL";
    return false;
  }
  if (url.size() > kMaxUrlChars) {
    *why = "URL longer than 259 characters";
    return false;
  }
  for (wchar_t c : url) {
    if (!IsRequestChar(c)) {
      *why = "URL holds a space, a control or a non-ASCII character";
      return false;
    }
  }
  const size_t end = url.find_first_of(L"/?#", kSchemeChars);
  if (end == std::wstring::npos || url[end] != L'/') {
    *why = "no path after the host";
    return false;
  }
  const std::wstring authority = url.substr(kSchemeChars, end - kSchemeChars);
  const size_t port_colon = authority.empty() || authority.back() == L']'
                                ? std::wstring::npos
                                : authority.rfind(L':');
  const size_t host_chars =
      port_colon == std::wstring::npos ? authority.size() : port_colon;
  if (host_chars == 0 || host_chars > kMaxHostChars) {
    *why = host_chars == 0 ? "no host" : "host longer than 255 characters";
    return false;
  }
  if (authority.find(L'@') != std::wstring::npos) {
    *why = "user names in URLs are not supported";
    return false;
  }
  out->authority = authority;
  out->object = url.substr(end, url.find(L'#', end) - end);
  return true;
}

}  // namespace mms::transport
