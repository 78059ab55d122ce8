// operator.cc: the operator settings, from the environment or built in.
#include "transport/operator.h"

#include <cstdlib>

#include "transport/url.h"

namespace mms::transport {

namespace {

constexpr char kProxyVariable[] = "MMS_WAP_PROXY";
constexpr char kCentreVariable[] = "MMS_MMSC_HOST";
constexpr char kAgentVariable[] = "MMS_USER_AGENT";
constexpr char kProfileVariable[] = "MMS_UAPROF";

// The variable's value, or fallback when it is unset or empty.
std::string Raw(const char* variable, const char* fallback,
                bool* from_environment = nullptr) {
  const char* value = std::getenv(variable);
  const bool set = value != nullptr && *value != '\0';
  if (from_environment != nullptr) {
    *from_environment = set;
  }
  return set ? value : fallback;
}

// Settings are ASCII (host names, ports, URLs, product tokens); a widened
// copy is exact.
std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

bool IsUrl(const std::string& text) {
  return text.find("://") != std::string::npos;
}

}  // namespace

std::wstring WapProxy() {
  const std::string proxy = Raw(kProxyVariable, kDefaultWapProxy);
  return proxy == kNoProxy ? std::wstring() : Widen(proxy);
}

std::wstring MmscHost() {
  const std::string centre = Raw(kCentreVariable, kDefaultMmscHost);
  if (!IsUrl(centre)) {
    return Widen(centre);
  }
  HttpUrl url;
  std::string why;
  return SplitHttpUrl(Widen(centre), &url, &why) ? url.authority
                                                 : std::wstring();
}

bool MmscPath(std::wstring* path, std::string* why) {
  const std::string centre = Raw(kCentreVariable, kDefaultMmscHost);
  if (!IsUrl(centre)) {
    *path = L"//";  // the phone's object for a bare host
    return true;
  }
  HttpUrl url;
  if (!SplitHttpUrl(Widen(centre), &url, why)) {
    *why = std::string(kCentreVariable) + ": " + *why;
    return false;
  }
  *path = url.object;
  return true;
}

std::wstring UserAgent() {
  return Widen(Raw(kAgentVariable, kDefaultUserAgent));
}

std::wstring ProfileHeader() {
  const std::string profile = Raw(kProfileVariable, "");
  return profile.empty() || profile == kNoProxy
             ? std::wstring()
             : L"x-wap-profile: " + Widen(profile);
}

std::vector<SettingInForce> SettingsInForce() {
  std::vector<SettingInForce> settings;
  bool env = false;
  std::string value = Raw(kProxyVariable, kDefaultWapProxy, &env);
  settings.push_back({kProxyVariable, value, env});
  value = Raw(kCentreVariable, kDefaultMmscHost, &env);
  settings.push_back({kCentreVariable, value, env});
  value = Raw(kAgentVariable, kDefaultUserAgent, &env);
  settings.push_back({kAgentVariable, value, env});
  value = Raw(kProfileVariable, "none", &env);
  settings.push_back({kProfileVariable, value, env});
  return settings;
}

}  // namespace mms::transport
