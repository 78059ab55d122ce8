// push_sender.h: WAP pushes to the device's push router as UDP datagrams.
//
// Datagrams are queued and sent from one worker thread a short moment
// later, so that a push the centre makes while answering a request reaches
// the device after the HTTP reply, as it would from an operator.
#ifndef MMS_TOOLS_MMS_CENTRE_PUSH_SENDER_H_
#define MMS_TOOLS_MMS_CENTRE_PUSH_SENDER_H_

#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace centre {

class PushSender {
 public:
  PushSender() = default;
  ~PushSender();
  PushSender(const PushSender&) = delete;
  PushSender& operator=(const PushSender&) = delete;

  // "host:port" of a loopback address; false with *why when it is not one
  // or no socket can be had.
  bool Open(const std::string& target, int delay_ms, std::string* why);
  const std::string& target() const { return target_; }

  // Queues one datagram; what_for names it in the log line once sent.
  void Send(const std::string& datagram, const std::string& what_for);
  // Sends what is queued and stops the worker.
  void Close();

 private:
  struct Item {
    std::string datagram;
    std::string what_for;
  };
  void Run();

  int socket_ = -1;
  sockaddr_storage address_ = {};  // the push router
  socklen_t address_size_ = 0;
  std::string target_;
  int delay_ms_ = 0;
  std::thread worker_;
  std::mutex mu_;
  std::condition_variable wake_;
  std::deque<Item> queue_;  // guarded by mu_
  bool closing_ = false;    // guarded by mu_
};

}  // namespace centre

#endif  // MMS_TOOLS_MMS_CENTRE_PUSH_SENDER_H_
