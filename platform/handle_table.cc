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

struct Table {
  std::mutex mu;
  // Values start high and step by 4 so that a handle never looks like
  // null, INVALID_HANDLE_VALUE or a small integer; they are never reused.
  uintptr_t next = 0x10000;  // guarded by mu
  std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>>
      objects;  // guarded by mu
};

// Never destroyed: detached threads may still close handles at exit.
Table& GetTable() {
  static Table* table = new Table;
  return *table;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<HandleObject> object) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mu);
  uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE handle) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mu);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == table.objects.end() ? nullptr : it->second;
}

size_t OpenHandleCount() {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mu);
  return table.objects.size();
}

}  // namespace mms::platform

BOOL CloseHandle(HANDLE handle) {
  mms::platform::Table& table = mms::platform::GetTable();
  std::shared_ptr<mms::platform::HandleObject> object;
  {
    std::lock_guard<std::mutex> lock(table.mu);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(it->second);
    table.objects.erase(it);
  }
  // The destructor may take other locks (file sharing); run it unlocked.
  object.reset();
  return TRUE;
}
