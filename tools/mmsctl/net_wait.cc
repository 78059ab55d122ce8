// net_wait.cc: probes, published values, state waits and the progress line
// of mmsctl's network commands.
#include "tools/mmsctl/net_wait.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/text_convert.h"
#include "pushrouter/push_store.h"
#include "store/registry_values.h"
#include "tools/mmsctl/compose.h"
#include "tools/mmsctl/compose_options.h"
#include "transport/operator.h"
#include "transport/wininet.h"

namespace mmsctl {
namespace {

namespace store = mms::store;

constexpr int kPollMs = 20;

// Connects with a deadline; the socket is non-blocking during the attempt.
bool ConnectWithin(const sockaddr* address, socklen_t length, int family,
                   int timeout_ms) {
  const int fd = socket(family, SOCK_STREAM, 0);
  if (fd < 0) {
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  bool ok = connect(fd, address, length) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd p = {fd, POLLOUT, 0};
    int error = 0;
    socklen_t error_length = sizeof(error);
    ok = poll(&p, 1, timeout_ms) == 1 &&
         getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &error_length) == 0 &&
         error == 0;
  }
  close(fd);
  return ok;
}

void ShowProgress(size_t sent, size_t send_total, size_t received,
                  size_t receive_total) {
  if (receive_total != 0 || received != 0) {
    std::fprintf(stderr, "\r  received %zu of %zu bytes   ", received,
                 receive_total);
  } else {
    std::fprintf(stderr, "\r  sent %zu of %zu bytes   ", sent, send_total);
  }
  std::fflush(stderr);
}

}  // namespace

bool ReadValue(const wchar_t* name, DWORD* type, std::vector<uint8_t>* bytes) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, store::kMmsKey, 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG result = mms::platform::ReadWholeValue(key, name, type, bytes);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool CanConnect(const std::string& host_port, int default_port) {
  std::string host = host_port;
  int port = default_port;
  // "[::1]:port", "host:port" or a bare host.
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string::npos) {
      return false;
    }
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':' ||
          !ParseNumber(host.substr(close + 2), 1, 65535, &port)) {
        return false;
      }
    }
    host = host.substr(1, close - 1);
  } else if (host.find(':') != std::string::npos &&
             host.find(':') == host.rfind(':')) {
    const size_t colon = host.find(':');
    if (!ParseNumber(host.substr(colon + 1), 1, 65535, &port)) {
      return false;
    }
    host = host.substr(0, colon);
  }
  if (host == "localhost") {
    host = "127.0.0.1";
  }
  sockaddr_in v4 = {};
  sockaddr_in6 v6 = {};
  if (inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    return ConnectWithin(reinterpret_cast<sockaddr*>(&v4), sizeof(v4), AF_INET,
                         1000);
  }
  if (inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    return ConnectWithin(reinterpret_cast<sockaddr*>(&v6), sizeof(v6), AF_INET6,
                         1000);
  }
  // A name: the library resolves it itself; do not second-guess it here.
  return true;
}

int ProbeOperator(const char* command) {
  const std::string proxy = Utf8(mms::transport::WapProxy());
  if (!proxy.empty() && !CanConnect(proxy, 80)) {
    return Fail(command, "WAP proxy " + proxy +
                             " is unreachable (set MMS_WAP_PROXY or start it)");
  }
  const std::string centre = Utf8(mms::transport::MmscHost());
  if (!CanConnect(centre, 80)) {
    return Fail(command, "MMS centre " + centre +
                             " is unreachable (set MMS_MMSC_HOST or start "
                             "mms-centre)");
  }
  return kOk;
}

bool PushRouterRunning() {
  mms::pushrouter::PushStore store;
  mms::pushrouter::RouterRow row;
  bool live = false;
  return store.Open(mms::pushrouter::PushStorePath()) &&
         store.Router(&row, &live) && live;
}

bool ReadDwordValue(const wchar_t* name, DWORD* value) {
  DWORD type = 0;
  std::vector<uint8_t> bytes;
  if (!ReadValue(name, &type, &bytes) || type != REG_DWORD ||
      bytes.size() != 4) {
    return false;
  }
  *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
           static_cast<DWORD>(bytes[3]) << 24;
  return true;
}

std::string ReadTextValue(const wchar_t* name) {
  DWORD type = 0;
  std::vector<uint8_t> bytes;
  if (!ReadValue(name, &type, &bytes)) {
    return "";
  }
  if (type == REG_SZ) {
    std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
    std::copy(bytes.begin(), bytes.begin() + wide.size() * sizeof(wchar_t),
              reinterpret_cast<uint8_t*>(wide.data()));
    wide.resize(wcsnlen(wide.c_str(), wide.size()));
    std::string out;
    return mms::platform::WideToUtf8Text(wide, &out) ? out : "";
  }
  if (type == REG_DWORD) {
    DWORD value = 0;
    return ReadDwordValue(name, &value) ? std::to_string(value) : "";
  }
  std::string text(bytes.begin(), bytes.end());
  return text.substr(0, text.find('\0'));
}

DWORD StateNow(const wchar_t* state) {
  DWORD value = 0;
  return ReadDwordValue(state, &value) ? value : 0;
}

bool WaitForStateChange(const wchar_t* state, DWORD before, int timeout_ms) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (StateNow(state) != before) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return StateNow(state) != before;
}

int TakeTimeout(const char* command, const Args& args, int* seconds,
                Args* rest) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--timeout") {
      rest->push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size() || !ParseNumber(args[i + 1], 1, 86400, seconds)) {
      return Fail(command, "--timeout needs a number of seconds (1-86400)",
                  kUsage);
    }
    ++i;
  }
  return kOk;
}

ProgressLine::ProgressLine() : active_(isatty(STDERR_FILENO) == 1) {
  if (active_) {
    mms::transport::SetTransferProgressHook(ShowProgress);
  }
}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Finish() {
  if (active_) {
    mms::transport::SetTransferProgressHook(nullptr);
    std::fprintf(stderr, "\r%40s\r", "");
    std::fflush(stderr);
    active_ = false;
  }
}

}  // namespace mmsctl
