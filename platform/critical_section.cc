// critical_section.cc: re-entrant critical sections over
// std::recursive_mutex.
//
// Entering is not a cancellation point (as on the phone a section is always
// entered once free), so a thread must not be terminated by a caller that
// holds a section the thread is waiting for.
#include <cassert>
#include <mutex>

#include "platform/winapi.h"

namespace {

std::recursive_mutex* Impl(CRITICAL_SECTION* section) {
  assert(section != nullptr && section->impl != nullptr);
  return static_cast<std::recursive_mutex*>(section->impl);
}

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section) {
  section->impl = new std::recursive_mutex;
}

void EnterCriticalSection(CRITICAL_SECTION* section) { Impl(section)->lock(); }

void LeaveCriticalSection(CRITICAL_SECTION* section) {
  Impl(section)->unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
  delete Impl(section);
  section->impl = nullptr;
}
