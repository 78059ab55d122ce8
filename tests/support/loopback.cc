// loopback.cc: free ports and a tinyproxy child process for tests.
#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace mms::testing {

namespace {

bool CanConnect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok =
      connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

int FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = 0;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  close(fd);
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
        << "Timeout 60\n"
        << "MaxClients 20\n"
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
    if (CanConnect(port_)) {
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
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

}  // namespace mms::testing
