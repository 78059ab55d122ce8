// handle_table.cc: handle numbers, lookup and CloseHandle.
//
// Closing drops the table's reference; the object's destructor releases
// what it holds (a file descriptor, a finished thread) once the last
// in-flight call using it returns.
#include "platform/handle_table.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace mms::platform {
namespace {

std::mutex g_table_mu;
// guarded by g_table_mu; values start high and step by 4 so that a handle
// never looks like null, INVALID_HANDLE_VALUE or a small integer.
uintptr_t g_next_handle = 0x10000;
std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>>
    g_objects;  // guarded by g_table_mu

}  // namespace

HANDLE AddHandle(std::shared_ptr<HandleObject> object) {
  std::lock_guard<std::mutex> lock(g_table_mu);
  uintptr_t value = g_next_handle;
  g_next_handle += 4;
  g_objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_table_mu);
  auto it = g_objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == g_objects.end() ? nullptr : it->second;
}

}  // namespace mms::platform

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<mms::platform::HandleObject> object;
  {
    std::lock_guard<std::mutex> lock(mms::platform::g_table_mu);
    auto it = mms::platform::g_objects.find(
        reinterpret_cast<uintptr_t>(handle));
    if (it == mms::platform::g_objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(it->second);
    mms::platform::g_objects.erase(it);
  }
  // The destructor may take other locks (file sharing); run it unlocked.
  object.reset();
  return TRUE;
}
