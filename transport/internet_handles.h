// internet_handles.h: the three handles of one HTTP attempt, closed
// together whenever the attempt ends, by return, retry or cancellation.
#ifndef MMS_TRANSPORT_INTERNET_HANDLES_H_
#define MMS_TRANSPORT_INTERNET_HANDLES_H_

#include "transport/wininet.h"

namespace mms::transport {

struct InternetHandles {
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;

  InternetHandles() = default;
  InternetHandles(const InternetHandles&) = delete;
  InternetHandles& operator=(const InternetHandles&) = delete;
  ~InternetHandles() { Close(); }

  void Close() {
    for (HINTERNET* h : {&request, &connection, &session}) {
      if (*h != nullptr) {
        InternetCloseHandle(*h);
        *h = nullptr;
      }
    }
  }
};

}  // namespace mms::transport

#endif  // MMS_TRANSPORT_INTERNET_HANDLES_H_
