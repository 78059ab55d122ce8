// handle_table.h: the one table behind every HANDLE (files, threads,
// events).
//
// A HANDLE is an opaque number that is never reused, so a closed or made-up
// handle is recognised as such (ERROR_INVALID_HANDLE) instead of reaching
// freed memory. Objects are shared: a call that looked one up keeps it alive
// even if another thread closes the handle meanwhile.
#ifndef MMS_PLATFORM_HANDLE_TABLE_H_
#define MMS_PLATFORM_HANDLE_TABLE_H_

#include <memory>

#include "platform/winapi.h"

namespace mms::platform {

class HandleObject {
 public:
  virtual ~HandleObject() = default;
};

// Registers an object and gives its new handle.
HANDLE AddHandle(std::shared_ptr<HandleObject> object);

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE)
// when the handle is unknown, closed or of another kind.
template <class T>
std::shared_ptr<T> LookupHandle(HANDLE handle);

std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE handle);

// Handles registered and not yet closed: lets tests see a leaked one.
size_t OpenHandleCount();

template <class T>
std::shared_ptr<T> LookupHandle(HANDLE handle) {
  std::shared_ptr<T> object =
      std::dynamic_pointer_cast<T>(LookupAnyHandle(handle));
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return object;
}

}  // namespace mms::platform

#endif  // MMS_PLATFORM_HANDLE_TABLE_H_
