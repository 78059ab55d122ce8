// push_router_service.cc: the push router's receive loop and program start.
//
// One thread: poll the socket (kTickMs), handle one datagram at a time,
// reap started programs, write counters. A push is committed to the store
// before anyone is told of it, so a router killed between the two loses
// nothing a holder could not find by its own polling. A registered program
// is started at most once at a time per content type, so a burst of
// pushes does not start a second listener that would find the content
// type held.
#include "pushrouter/push_router_service.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diag/log.h"
#include "platform/device_fs.h"
#include "platform/text_convert.h"
#include "pushrouter/push_datagram.h"
#include "pushrouter/push_handover.h"
#include "pushrouter/push_store.h"

extern char** environ;

namespace mms::pushrouter {

using platform::DeviceRoot;
using platform::DeviceToHostPath;
using platform::Utf8ToWideText;

namespace {

constexpr int kTickMs = 200;
// Room in the kernel for a burst while pushes are being stored: about
// 10,000 small datagrams (each costs the kernel about 800 bytes).
constexpr int kSocketReceiveBytes = 8 * 1024 * 1024;
// Datagrams read between two ticks at most, so counts are still written.
constexpr int kDrainPerTick = 4096;
// A program that could not be started is not tried again for this long.
constexpr auto kLaunchRetry = std::chrono::seconds(60);
// Room for any UDP payload; MSG_TRUNC reports the real size beyond it.
constexpr size_t kReceiveBuffer = 65536;

bool IsLoopback(const in_addr& addr) {
  return (ntohl(addr.s_addr) >> 24) == 127;
}

std::vector<std::string> SplitParams(const std::string& params) {
  std::vector<std::string> words;
  std::istringstream in(params);
  std::string word;
  while (in >> word) {
    words.push_back(word);
  }
  return words;
}

class Router {
 public:
  Router(const RouterOptions& options, int fd, const std::string& root)
      : options_(options), fd_(fd), root_(root) {}

  bool OpenStore() { return store_.Open(PushStorePath()); }
  PushStore& store() { return store_; }

  // Reads and handles one waiting datagram; false when none waits.
  bool Receive() {
    buffer_.resize(kReceiveBuffer);
    std::vector<uint8_t>& buffer = buffer_;
    sockaddr_in from = {};
    socklen_t from_size = sizeof(from);
    const ssize_t n =
        recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n < 0) {
      return errno == EINTR;
    }
    const size_t size = static_cast<size_t>(n);
    if (size <= buffer.size() && IsHandoverRequest(buffer.data(), size)) {
      HandOver(buffer.data(), size, from);
      return true;
    }
    ++counts_["received"];
    PushDatagram push;
    // A datagram cut by the buffer is oversized whatever it holds.
    const DatagramError error =
        size > buffer.size() ? DatagramError::kOversized
                             : ParsePushDatagram(buffer.data(), size, &push);
    char sender[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, sender, sizeof(sender));
    if (error != DatagramError::kNone) {
      ++counts_["malformed"];
      ++counts_[std::string("malformed.") + DatagramErrorName(error)];
      Log("dropped %zu bytes from %s: %s", size, sender,
          DatagramErrorName(error));
      return true;
    }
    Accept(push, sender);
    return true;
  }

  void Tick() {
    for (auto it = launched_.begin(); it != launched_.end();) {
      int status = 0;
      if (waitpid(it->second, &status, WNOHANG) != 0) {
        it = launched_.erase(it);
      } else {
        ++it;
      }
    }
    if (!counts_.empty() && store_.AddCounts(counts_)) {
      counts_.clear();
    }
  }

 private:
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!options_.verbose) {
      return;
    }
    va_list args;
    va_start(args, format);
    diag::PrintProgramLine("mms-pushrouter", format, args);
    va_end(args);
  }

  // A request from the modem bridge: the push it carries goes the way of
  // a datagram's, and the sender learns what became of it.
  void HandOver(const uint8_t* data, size_t size, const sockaddr_in& from) {
    std::string key;
    const uint8_t* pdu = nullptr;
    size_t pdu_size = 0;
    if (!ParseHandoverRequest(data, size, &key, &pdu, &pdu_size)) {
      ++counts_["malformed.handover"];
      return;
    }
    ++counts_["handed-over"];
    PushDatagram push;
    HandoverOutcome outcome = HandoverOutcome::kRefused;
    const DatagramError error = ParsePushDatagram(pdu, pdu_size, &push);
    if (error != DatagramError::kNone) {
      ++counts_["malformed"];
      ++counts_[std::string("malformed.") + DatagramErrorName(error)];
    } else {
      char sender[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, sender, sizeof(sender));
      outcome = Accept(push, sender, key);
    }
    const std::string reply = BuildHandoverReply(key, outcome);
    (void)sendto(fd_, reply.data(), reply.size(), 0,
                 reinterpret_cast<const sockaddr*>(&from), sizeof(from));
  }

  // key is "" for a datagram, else the hand-over's name for the push.
  HandoverOutcome Accept(const PushDatagram& push, const char* sender,
                         const std::string& key = "") {
    Registration reg;
    bool found = false;
    if (push.content_type.empty() ||
        !store_.FindRegistration(push.content_type, &reg, &found) || !found) {
      ++counts_["refused"];
      Log("refused a push of content type '%s'", push.content_type.c_str());
      return HandoverOutcome::kLater;
    }
    // An MMS push body starts with X-Mms-Message-Type and its value.
    if (FoldContentType(push.content_type) == kMmsMessageType &&
        (push.body_size < 2 || push.body[0] != 0x8C || push.body[1] < 0x80)) {
      ++counts_["malformed"];
      ++counts_["malformed.not-mms"];
      Log("dropped an MMS push whose body is no MMS PDU");
      return HandoverOutcome::kRefused;
    }
    StoredPush stored;
    stored.headers.assign(push.headers, push.headers + push.headers_size);
    stored.body.assign(push.body, push.body + push.body_size);
    stored.sender = sender;
    const StoreResult result =
        key.empty()
            ? (store_.Enqueue(push.content_type, stored) ? StoreResult::kOk
                                                         : StoreResult::kFailed)
            : store_.EnqueueOnce(push.content_type, stored, key);
    if (result == StoreResult::kExists) {
      ++counts_["duplicate"];
      Log("push %s was stored before", key.c_str());
      return HandoverOutcome::kDuplicate;
    }
    if (result != StoreResult::kOk) {
      ++counts_["store-failed"];
      Log("could not queue a push of %zu bytes", push.body_size);
      return HandoverOutcome::kLater;
    }
    ++counts_["accepted"];
    Log("queued a push of %zu bytes for '%s'", push.body_size,
        push.content_type.c_str());
    int port = 0;
    if (store_.LiveHolderPort(push.content_type, &port) && port > 0) {
      Notify(port);
    } else {
      Launch(FoldContentType(push.content_type), reg);
    }
    return HandoverOutcome::kStored;
  }

  void Notify(int port) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    const uint8_t byte = 1;
    (void)sendto(fd_, &byte, 1, 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof(to));
  }

  void Launch(const std::string& folded, const Registration& reg) {
    if (launched_.count(folded) != 0) {
      return;  // started earlier and still starting up or running
    }
    const auto earlier = failed_launch_.find(folded);
    if (earlier != failed_launch_.end()) {
      if (std::chrono::steady_clock::now() - earlier->second < kLaunchRetry) {
        return;  // it failed just now: the push waits in the queue
      }
      failed_launch_.erase(earlier);
    }
    std::wstring device;
    std::string host;
    if (!Utf8ToWideText(reg.program, &device) ||
        !DeviceToHostPath(device, &host)) {
      LaunchFailed(folded);
      return;
    }
    std::vector<std::string> words = SplitParams(reg.params);
    words.insert(words.begin(), host);
    std::vector<char*> argv;
    for (std::string& w : words) {
      argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    // The program works on this router's device root.
    std::vector<std::string> env_text = {"MMS_DEVICE_ROOT=" + root_};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "MMS_DEVICE_ROOT=", 16) != 0) {
        env_text.push_back(*e);
      }
    }
    std::vector<char*> envp;
    for (std::string& e : env_text) {
      envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    // The child reports a failed exec through a pipe that a successful
    // exec closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
      LaunchFailed(folded);
      return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      setsid();
      execve(argv[0], argv.data(), envp.data());
      const int error = errno;
      (void)!write(report[1], &error, sizeof(error));
      _exit(127);
    }
    close(report[1]);
    int error = 0;
    const bool failed =
        pid < 0 || read(report[0], &error, sizeof(error)) == sizeof(error);
    close(report[0]);
    if (failed) {
      if (pid > 0) {
        waitpid(pid, nullptr, 0);
      }
      LaunchFailed(folded);
      Log("could not start %s: %s", host.c_str(), std::strerror(error));
      return;
    }
    launched_[folded] = pid;
    ++counts_["launched"];
    Log("started %s %s", host.c_str(), reg.params.c_str());
  }

  void LaunchFailed(const std::string& folded) {
    ++counts_["launch-failed"];
    failed_launch_[folded] = std::chrono::steady_clock::now();
  }

  const RouterOptions options_;
  const int fd_;
  const std::string root_;
  PushStore store_;
  std::map<std::string, int64_t> counts_;  // not yet written to the store
  std::map<std::string, pid_t> launched_;  // by folded content type
  // When a launch failed, by folded content type.
  std::map<std::string, std::chrono::steady_clock::time_point> failed_launch_;
  std::vector<uint8_t> buffer_;  // one datagram
};

}  // namespace

bool ParseRouterAddress(const std::string& text, RouterOptions* options) {
  std::string host = text;
  std::string port;
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  RouterOptions parsed = *options;
  if (!host.empty()) {
    in_addr addr = {};
    if (host == "localhost") {
      host = "127.0.0.1";
    }
    if (inet_pton(AF_INET, host.c_str(), &addr) != 1 || !IsLoopback(addr)) {
      return false;
    }
    parsed.address = host;
  }
  if (colon != std::string::npos) {
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value < 0 || value > 65535) {
      return false;
    }
    parsed.port = static_cast<int>(value);
  }
  *options = parsed;
  return true;
}

bool RouterOptionsFromArgs(const std::vector<std::string>& args,
                           RouterOptions* options, std::string* error) {
  const char* env = std::getenv("MMS_PUSH_ADDR");
  if (env != nullptr && env[0] != '\0' && !ParseRouterAddress(env, options)) {
    *error = std::string("MMS_PUSH_ADDR is not a loopback HOST:PORT: ") + env;
    return false;
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "--address" && has_value) {
      if (!ParseRouterAddress(args[++i], options)) {
        *error = "not a loopback HOST[:PORT]: " + args[i];
        return false;
      }
    } else if (arg == "--port" && has_value) {
      if (!ParseRouterAddress(":" + args[++i], options)) {
        *error = "not a port: " + args[i];
        return false;
      }
    } else {
      *error = "unexpected argument: " + arg;
      return false;
    }
  }
  return true;
}

int RunPushRouterUntilSignal(const RouterOptions& options) {
  static std::atomic<bool> stop{false};
  struct sigaction action = {};
  action.sa_handler = [](int) { stop = true; };
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  return RunPushRouter(options, stop);
}

int RunPushRouter(const RouterOptions& options, const std::atomic<bool>& stop) {
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(options.port));
  if (inet_pton(AF_INET, options.address.c_str(), &addr.sin_addr) != 1 ||
      !IsLoopback(addr.sin_addr)) {
    std::fprintf(stderr, "mms-pushrouter: %s is not a loopback address\n",
                 options.address.c_str());
    return 1;
  }
  const std::string root = DeviceRoot();
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  Router router(options, fd, root);
  RouterRow existing;
  bool running = false;
  if (fd < 0 || !router.OpenStore() ||
      !router.store().Router(&existing, &running)) {
    std::fprintf(stderr, "mms-pushrouter: cannot open %s\n",
                 PushStorePath().c_str());
    if (fd >= 0) {
      close(fd);
    }
    return 1;
  }
  if (running && existing.pid != SelfProcess().pid) {
    std::fprintf(stderr,
                 "mms-pushrouter: a router already runs for %s (pid %u)\n",
                 root.c_str(), existing.pid);
    close(fd);
    return 1;
  }
  // Root may go past the system's limit; others get what it allows.
  const int want = kSocketReceiveBytes;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof(want)) != 0) {
    (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &want, sizeof(want));
  }
  socklen_t size = sizeof(addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
    std::fprintf(stderr, "mms-pushrouter: cannot bind %s:%d: %s\n",
                 options.address.c_str(), options.port, std::strerror(errno));
    close(fd);
    return 1;
  }
  RouterRow row;
  const ProcessId self = SelfProcess();
  row.pid = self.pid;
  row.start = self.start;
  row.address = options.address;
  row.port = ntohs(addr.sin_port);
  if (!router.store().SetRouter(row)) {
    std::fprintf(stderr, "mms-pushrouter: cannot record itself in %s\n",
                 PushStorePath().c_str());
    close(fd);
    return 1;
  }
  std::printf("listening on %s:%d\n", row.address.c_str(), row.port);
  std::fflush(stdout);
  while (!stop.load()) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, kTickMs) > 0) {
      // Drain everything that has arrived, then tick once.
      for (int i = 0; i < kDrainPerTick && router.Receive(); ++i) {
      }
    }
    router.Tick();
  }
  router.Tick();
  close(fd);
  return 0;
}

}  // namespace mms::pushrouter
