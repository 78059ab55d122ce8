// push_sender.cc: one UDP socket, one worker thread draining a queue.
#include "tools/mms-centre/push_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "tools/mms-centre/address.h"
#include "tools/mms-centre/log.h"

namespace centre {

PushSender::~PushSender() { Close(); }

bool PushSender::Open(const std::string& target, int delay_ms,
                      std::string* why) {
  std::string host;
  int port = 0;
  if (!ParseLoopbackTarget(target, &host, &port, why)) {
    return false;
  }
  const bool v6 = host.find(':') != std::string::npos;
  socket_ = socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    *why = std::string("no UDP socket: ") + std::strerror(errno);
    return false;
  }
  // Unconnected: a refusal from a router that is not running would
  // otherwise surface on the next, unrelated datagram.
  address_ = {};
  if (v6) {
    auto* to = reinterpret_cast<sockaddr_in6*>(&address_);
    to->sin6_family = AF_INET6;
    to->sin6_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET6, host.c_str(), &to->sin6_addr);
    address_size_ = sizeof(sockaddr_in6);
  } else {
    auto* to = reinterpret_cast<sockaddr_in*>(&address_);
    to->sin_family = AF_INET;
    to->sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &to->sin_addr);
    address_size_ = sizeof(sockaddr_in);
  }
  target_ = HostPort(host, port);
  delay_ms_ = delay_ms;
  worker_ = std::thread([this] { Run(); });
  return true;
}

void PushSender::Send(const std::string& datagram,
                      const std::string& what_for) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back({datagram, what_for});
  }
  wake_.notify_one();
}

void PushSender::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) {
      return;  // closing, nothing left
    }
    if (!closing_) {
      wake_.wait_for(lock, std::chrono::milliseconds(delay_ms_),
                     [this] { return closing_; });
    }
    Item item = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    const ssize_t sent =
        sendto(socket_, item.datagram.data(), item.datagram.size(), 0,
               reinterpret_cast<const sockaddr*>(&address_), address_size_);
    if (sent == static_cast<ssize_t>(item.datagram.size())) {
      Log("pushed " + item.what_for + " to " + target_ + " (" +
          std::to_string(sent) + " bytes)");
    } else {
      Log("could not push " + item.what_for + " to " + target_ + ": " +
          std::strerror(errno));
    }
    lock.lock();
  }
}

void PushSender::Close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    closing_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) {
    worker_.join();
  }
  if (socket_ >= 0) {
    close(socket_);
    socket_ = -1;
  }
}

}  // namespace centre
