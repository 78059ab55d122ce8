// owned.h: std::unique_ptr over the release calls of the platform (and of
// any C library): one deleter for every kind of owned resource.
#ifndef MMS_PLATFORM_OWNED_H_
#define MMS_PLATFORM_OWNED_H_

#include <memory>

#include "platform/winapi.h"

namespace mms::platform {

// Deleter that hands the pointer to Release (LocalFree, CloseHandle,
// curl_easy_cleanup, ...), whatever Release returns.
template <auto Release>
struct ReleasedBy {
  template <class T>
  void operator()(T* pointer) const {
    Release(pointer);
  }
};

template <class T, auto Release>
using Owned = std::unique_ptr<T, ReleasedBy<Release>>;

// A LocalAlloc block.
template <class T>
using LocalBlock = Owned<T, LocalFree>;

// A handle that CloseHandle closes; null when there is none.
using OwnedHandle = Owned<void, CloseHandle>;
// INVALID_HANDLE_VALUE (a failed CreateFileW) becomes null.
inline OwnedHandle OwnHandle(HANDLE handle) {
  return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace mms::platform

#endif  // MMS_PLATFORM_OWNED_H_
