// operator.cc: the operator settings, from the environment or built in.
#include "transport/operator.h"

#include <cstdlib>

#include "platform/winapi.h"

namespace mms::transport {

namespace {

std::wstring Setting(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  const std::string text = value != nullptr && *value != '\0' ? value : fallback;
  // Host names and ports are ASCII; a widened copy is exact.
  return std::wstring(text.begin(), text.end());
}

}  // namespace

std::wstring WapProxy() { return Setting("MMS_WAP_PROXY", kDefaultWapProxy); }

std::wstring MmscHost() { return Setting("MMS_MMSC_HOST", kDefaultMmscHost); }

}  // namespace mms::transport
