// last_error.cc: the per-thread error code of the phone's services.
//
// Every platform call that fails sets it; calls that succeed leave it alone
// unless their contract says otherwise (CreateFileW, SetFilePointer).
#include "platform/winapi.h"

namespace {

thread_local DWORD g_last_error = ERROR_SUCCESS;

}  // namespace

DWORD GetLastError(void) { return g_last_error; }

void SetLastError(DWORD error) { g_last_error = error; }
