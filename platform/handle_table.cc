// handle_table.cc: handle numbers, lookup, taking out and CloseHandle.
//
// Taking a handle out drops the table's reference; the object's destructor
// releases what it holds (a file descriptor, a finished thread, a curl
// transfer's buffers) once the last in-flight call using it returns.
#include "platform/handle_table.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace mms::platform {
namespace {

struct Table {
  std::mutex mu;
  // The generation: values start high and step by 4 so that a handle never
  // looks like null, INVALID_HANDLE_VALUE, HKEY_LOCAL_MACHINE or a small
  // integer; they are never reused.
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

std::shared_ptr<HandleObject> TakeHandle(HANDLE handle, KindTest is_kind) {
  Table& table = GetTable();
  std::shared_ptr<HandleObject> object;
  {
    std::lock_guard<std::mutex> lock(table.mu);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it != table.objects.end() && is_kind(*it->second)) {
      object = std::move(it->second);
      table.objects.erase(it);
    }
  }
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return object;
}

size_t OpenHandleCount(KindTest is_kind) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mu);
  if (is_kind == nullptr) {
    return table.objects.size();
  }
  size_t count = 0;
  for (const auto& entry : table.objects) {
    count += is_kind(*entry.second) ? 1 : 0;
  }
  return count;
}

void CloseHandlesOfKind(KindTest is_kind) {
  Table& table = GetTable();
  std::vector<std::shared_ptr<HandleObject>> closed;
  {
    std::lock_guard<std::mutex> lock(table.mu);
    for (auto it = table.objects.begin(); it != table.objects.end();) {
      if (is_kind(*it->second)) {
        closed.push_back(std::move(it->second));
        it = table.objects.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Destructors may take other locks (file sharing); they run unlocked.
}

}  // namespace mms::platform

BOOL CloseHandle(HANDLE handle) {
  // The destructor may take other locks (file sharing); it runs unlocked,
  // when the taken reference goes out of scope.
  return mms::platform::TakeHandle(
             handle,
             [](const mms::platform::HandleObject& object) {
               return object.ClosedByCloseHandle();
             }) != nullptr
             ? TRUE
             : FALSE;
}
