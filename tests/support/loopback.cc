// loopback.cc: free ports and a tinyproxy child process for tests.
#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace mms::testing {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// A TCP socket bound to a fresh port on 127.0.0.1 (-1 when none is),
// listening when asked. While it is only bound, connections to the port
// are refused and no one else can bind it.
int BoundSocket(int* port, bool listening) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = Loopback(0);
  socklen_t len = sizeof addr;
  *port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      (listening && listen(fd, 16) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

int ConnectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in addr = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int FreeTcpPort() {
  int port = 0;
  close(BoundSocket(&port, false));
  return port;
}

TinyProxy::TinyProxy() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "mms-proxy-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    return;
  }
  dir_ = pattern;
  port_ = FreeTcpPort();
  const std::string conf = dir_ + "/tinyproxy.conf";
  {
    std::ofstream out(conf);
    out << "Port " << port_ << "\n"
        << "Listen 127.0.0.1\n"
        << "Allow 127.0.0.1\n"
        << "LogLevel Critical\n"
        << "LogFile \"" << dir_ << "/tinyproxy.log\"\n"
        << "PidFile \"" << dir_ << "/tinyproxy.pid\"\n"
        << "DisableViaHeader Yes\n";
  }
  pid_ = fork();
  if (pid_ == 0) {
    execlp("tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  // Generous: on a loaded machine tinyproxy can take seconds to listen.
  for (int i = 0; i < 600; ++i) {
    const int probe = ConnectTo(port_);
    if (probe >= 0) {
      close(probe);
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;  // tinyproxy is missing or refused the configuration
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Stop();
}

TinyProxy::~TinyProxy() {
  Stop();
  if (dead_fd_ >= 0) {
    close(dead_fd_);
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

std::string TinyProxy::address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void TinyProxy::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    // A SIGTERM that lands while tinyproxy is starting can go unheeded.
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
      ended = waitpid(pid_, nullptr, WNOHANG) != 0;
      if (!ended) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    // Its old port may go to another test's server at once; a port held
    // bound for this object's life refuses every connection.
    dead_fd_ = BoundSocket(&port_, false);
  }
}

namespace {

// Copies both ways until either side closes.
void Relay(int a, int b) {
  char buffer[65536];
  pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, 30000) <= 0) {
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        return;
      }
      for (ssize_t done = 0; done < n;) {
        const ssize_t w =
            write(fds[1 - i].fd, buffer + done, static_cast<size_t>(n - done));
        if (w <= 0) {
          return;
        }
        done += w;
      }
    }
  }
}

}  // namespace

RefusingForwarder::RefusingForwarder(int target_port, int refusals)
    : target_port_(target_port), refusals_(refusals) {
  listener_ = BoundSocket(&port_, true);
  thread_ = std::thread([this] { Run(); });
}

RefusingForwarder::~RefusingForwarder() {
  stop_ = true;
  shutdown(listener_, SHUT_RDWR);
  thread_.join();
  close(listener_);
}

std::string RefusingForwarder::address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void RefusingForwarder::Run() {
  std::vector<std::thread> relays;
  while (!stop_) {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      break;
    }
    if (accepted_++ < refusals_) {
      linger reset{1, 0};  // close with RST, as a refusing proxy
      setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      close(client);
      continue;
    }
    relays.emplace_back([client, this] {
      const int upstream = ConnectTo(target_port_);
      if (upstream >= 0) {
        Relay(client, upstream);
        close(upstream);
      }
      close(client);
    });
  }
  for (std::thread& t : relays) {
    t.join();
  }
}

}  // namespace mms::testing
