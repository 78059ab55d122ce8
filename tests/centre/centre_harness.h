// centre_harness.h: built programs (mms-centre among them) as child
// processes, a UDP socket standing in for the device's push router, and a
// run of a built tool.
#ifndef MMS_TESTS_CENTRE_CENTRE_HARNESS_H_
#define MMS_TESTS_CENTRE_CENTRE_HARNESS_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace mms::testing {

inline const std::string kCentreBinary = MMS_BINARY_DIR "/mms-centre";

inline bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(),
                     needle.end()) != haystack.end();
}

// A UDP socket on 127.0.0.1 at a free port: what the centre pushes to.
class PushSink {
 public:
  PushSink() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~PushSink() { close(fd_); }
  PushSink(const PushSink&) = delete;
  PushSink& operator=(const PushSink&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // The next datagram, or an empty result after timeout_ms.
  Bytes Receive(int timeout_ms = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) {
      return Bytes();
    }
    Bytes datagram(65536);
    const ssize_t n = recv(fd_, datagram.data(), datagram.size(), 0);
    datagram.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return datagram;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A built program running with the given arguments; its output (stdout
// and stderr) is collected.
class ToolProcess {
 public:
  ToolProcess(const std::string& binary, const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      // A test program that is killed takes its children along.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
      for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
      }
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~ToolProcess() {
    Stop();
    if (out_ >= 0) {
      close(out_);
    }
  }
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  // The first log line (read so far or arriving within timeout_ms) that
  // holds text, from the line after the last one this call returned.
  std::string WaitFor(const std::string& text, int timeout_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(timeout_ms);
    for (;;) {
      size_t line_end;
      while ((line_end = log_.find('\n', scanned_)) != std::string::npos) {
        const std::string line = log_.substr(scanned_, line_end - scanned_);
        scanned_ = line_end + 1;
        if (line.find(text) != std::string::npos) {
          return line;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) {
        return std::string();
      }
    }
  }

  // SIGTERM, then the exit code (-1 when it did not exit normally).
  int Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
      while (ReadSome(0)) {
      }
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return exit_code_;
  }

  const std::string& log() const { return log_; }

 private:
  bool ReadSome(int timeout_ms) {
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0 || poll(&p, 1, timeout_ms) != 1) {
      return false;
    }
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) {
      return false;
    }
    log_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int exit_code_ = -1;
  std::string log_;
  size_t scanned_ = 0;  // log_ bytes WaitFor has looked at
};

// mms-centre on the port it reports.
class CentreProcess : public ToolProcess {
 public:
  explicit CentreProcess(const std::vector<std::string>& args)
      : ToolProcess(kCentreBinary, args) {
    const std::string ready = WaitFor("listening on http://127.0.0.1:");
    const size_t colon = ready.rfind(':', ready.find("/ (pushes"));
    if (colon != std::string::npos) {
      port_ = std::atoi(ready.c_str() + colon + 1);
    }
  }
  int port() const { return port_; }

 private:
  int port_ = 0;
};

struct ToolRun {
  int code = -1;  // exit code, -1 for a signal
  std::string out;
  std::string err;
};

// Runs a built tool to its end, its output in files under scratch.
inline ToolRun RunTool(const std::string& binary,
                       const std::vector<std::string>& args,
                       const std::string& scratch) {
  auto quote = [](const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) {
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
  };
  std::string command = quote(binary);
  for (const std::string& a : args) {
    command += " " + quote(a);
  }
  const std::string out = scratch + "/tool.out";
  const std::string err = scratch + "/tool.err";
  command += " >" + quote(out) + " 2>" + quote(err);
  ToolRun run;
  const int status = std::system(command.c_str());
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const Bytes o = ReadHostFile(out);
  const Bytes e = ReadHostFile(err);
  run.out.assign(o.begin(), o.end());
  run.err.assign(e.begin(), e.end());
  return run;
}

}  // namespace mms::testing

#endif  // MMS_TESTS_CENTRE_CENTRE_HARNESS_H_
