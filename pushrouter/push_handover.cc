// push_handover.cc: the hand-over request and answer, and the sender side.
#include "pushrouter/push_handover.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pushrouter/push_datagram.h"

namespace mms::pushrouter {
namespace {

constexpr char kMagic[] = "MMSHANDOVER1 ";
constexpr size_t kMagicSize = sizeof(kMagic) - 1;
constexpr size_t kMaxKey = 64;
constexpr int kTries = 3;
constexpr int kAnswerWaitMs = 1000;

constexpr HandoverOutcome kOutcomes[] = {
    HandoverOutcome::kStored, HandoverOutcome::kDuplicate,
    HandoverOutcome::kRefused, HandoverOutcome::kLater};

bool IsKey(const std::string& key) {
  if (key.empty() || key.size() > kMaxKey) {
    return false;
  }
  for (char c : key) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                    (c >= 'A' && c <= 'Z') || c == '.' || c == '_' || c == '-';
    if (!ok) {
      return false;
    }
  }
  return true;
}

// Closes the socket when it goes.
class Socket {
 public:
  Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  const int fd_;
};

// The outcome of an answer for key; false for anything else.
bool ParseReply(const char* data, size_t size, const std::string& key,
                HandoverOutcome* outcome) {
  const std::string text(data, size);
  const std::string head = kMagic + key + " ";
  if (text.compare(0, head.size(), head) != 0) {
    return false;
  }
  for (HandoverOutcome o : kOutcomes) {
    if (text.substr(head.size()) ==
        std::string(HandoverOutcomeName(o)) + "\n") {
      *outcome = o;
      return true;
    }
  }
  return false;
}

}  // namespace

const char* HandoverOutcomeName(HandoverOutcome outcome) {
  switch (outcome) {
    case HandoverOutcome::kStored:
      return "stored";
    case HandoverOutcome::kDuplicate:
      return "duplicate";
    case HandoverOutcome::kRefused:
      return "refused";
    case HandoverOutcome::kLater:
      return "later";
  }
  return "later";
}

bool IsHandoverRequest(const uint8_t* data, size_t size) {
  return size >= kMagicSize && std::memcmp(data, kMagic, kMagicSize) == 0;
}

bool BuildHandoverRequest(const std::string& key,
                          const std::vector<uint8_t>& pdu,
                          std::vector<uint8_t>* datagram) {
  const std::string head = kMagic + key + "\n";
  if (!IsKey(key) || head.size() + pdu.size() > kMaxPushDatagram) {
    return false;
  }
  datagram->assign(head.begin(), head.end());
  datagram->insert(datagram->end(), pdu.begin(), pdu.end());
  return true;
}

bool ParseHandoverRequest(const uint8_t* data, size_t size, std::string* key,
                          const uint8_t** pdu, size_t* pdu_size) {
  if (!IsHandoverRequest(data, size)) {
    return false;
  }
  const size_t limit = std::min(size, kMagicSize + kMaxKey + 1);
  const auto* end = static_cast<const uint8_t*>(
      std::memchr(data + kMagicSize, '\n', limit - kMagicSize));
  if (end == nullptr) {
    return false;
  }
  key->assign(reinterpret_cast<const char*>(data) + kMagicSize,
              reinterpret_cast<const char*>(end));
  *pdu = end + 1;
  *pdu_size = size - static_cast<size_t>(*pdu - data);
  return IsKey(*key);
}

std::string BuildHandoverReply(const std::string& key,
                               HandoverOutcome outcome) {
  return kMagic + key + " " + HandoverOutcomeName(outcome) + "\n";
}

bool HandOverPush(const std::string& address, int port, const std::string& key,
                  const std::vector<uint8_t>& pdu, HandoverOutcome* outcome,
                  std::string* error) {
  std::vector<uint8_t> request;
  if (!BuildHandoverRequest(key, pdu, &request)) {
    // Too large for any datagram the router reads: it would never take it.
    *outcome = HandoverOutcome::kRefused;
    return true;
  }
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1 ||
      (ntohl(to.sin_addr.s_addr) >> 24) != 127) {
    *error = "the router's address " + address + " is not loopback";
    return false;
  }
  Socket s;
  if (s.fd() < 0 ||
      connect(s.fd(), reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
    *error = std::string("cannot reach the router: ") + std::strerror(errno);
    return false;
  }
  for (int attempt = 0; attempt < kTries; ++attempt) {
    (void)send(s.fd(), request.data(), request.size(), 0);
    pollfd p = {s.fd(), POLLIN, 0};
    while (poll(&p, 1, kAnswerWaitMs) > 0) {
      char answer[256];
      const ssize_t n = recv(s.fd(), answer, sizeof(answer), 0);
      if (n < 0) {
        break;  // e.g. nothing listens on the port: try again
      }
      if (ParseReply(answer, static_cast<size_t>(n), key, outcome)) {
        return true;
      }
    }
  }
  *error = "the router did not answer";
  return false;
}

}  // namespace mms::pushrouter
