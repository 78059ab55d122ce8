// handle_table.h: the one table behind every handle (files, threads,
// events, registry keys, HTTP handles, connection requests, push router
// sessions).
//
// A handle is an opaque number that is never reused: each registration gets
// the next generation, so a closed or made-up handle is recognised as such
// (ERROR_INVALID_HANDLE) instead of reaching freed memory. Objects are
// shared: a call that looked one up keeps it alive even if another thread
// closes the handle meanwhile, and of two racing closes exactly one takes
// the object out, so nothing is freed twice.
#ifndef MMS_PLATFORM_HANDLE_TABLE_H_
#define MMS_PLATFORM_HANDLE_TABLE_H_

#include <memory>

#include "platform/winapi.h"

namespace mms::platform {

class HandleObject {
 public:
  virtual ~HandleObject() = default;
  // False for kinds with a close call of their own (registry keys, HTTP
  // handles, connection requests): CloseHandle refuses them.
  virtual bool ClosedByCloseHandle() const { return true; }
};

// Whether an object is of one kind; IsKind<T> answers for class T.
using KindTest = bool (*)(const HandleObject&);
template <class T>
bool IsKind(const HandleObject& object) {
  return dynamic_cast<const T*>(&object) != nullptr;
}

// Registers an object and gives its new handle.
HANDLE AddHandle(std::shared_ptr<HandleObject> object);

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE)
// when the handle is unknown, closed or of another kind.
std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> LookupHandle(HANDLE handle) {
  std::shared_ptr<T> object =
      std::dynamic_pointer_cast<T>(LookupAnyHandle(handle));
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return object;
}

// Takes the handle out of the table when its object passes is_kind and
// hands the object over; null (ERROR_INVALID_HANDLE) otherwise, also to
// every close that lost a race for the same handle.
std::shared_ptr<HandleObject> TakeHandle(HANDLE handle, KindTest is_kind);
template <class T>
std::shared_ptr<T> TakeHandle(HANDLE handle) {
  return std::static_pointer_cast<T>(TakeHandle(handle, IsKind<T>));
}

// Handles registered and not yet closed (of one kind, or all): lets tests
// see a leaked one.
size_t OpenHandleCount(KindTest is_kind = nullptr);

// Closes every handle of one kind (a test's fresh start).
void CloseHandlesOfKind(KindTest is_kind);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_HANDLE_TABLE_H_
