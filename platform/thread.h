// thread.h: cooperative cancellation for the library's worker threads.
//
// TerminateThread does not kill a thread: it asks it to end and wakes it.
// The thread notices at its next blocking point (Sleep, WaitForSingleObject,
// an HTTP transfer, a connection poll, a prompt), where CancellationPoint()
// throws ThreadCancelled. The exception unwinds only C++ frames of this
// library (never through C callbacks: code called from C checks
// CancelRequested() and returns an error instead) and is caught by the
// thread's start routine, so RAII releases what the thread held and none of
// its remaining steps run. Nothing throws across the exported interface.
#ifndef MMS_PLATFORM_THREAD_H_
#define MMS_PLATFORM_THREAD_H_

#include <cstdint>

namespace mms::platform {

// Thrown at a blocking point of a thread that TerminateThread asked to end.
struct ThreadCancelled {};

// True when the calling thread has been asked to end.
bool CancelRequested();

// Throws ThreadCancelled when the calling thread has been asked to end.
void CancellationPoint();

// Asks every thread the library started, and that still runs, to end (as
// TerminateThread does) without waiting for any of them: the orderly end of
// a process that exits with work in flight.
void RequestEndOfAllThreads();

// Test-only: every sleep and timed wait lasts scale times its nominal
// duration (1.0 in production; tests set e.g. 0.01). Timeouts the library
// reports are unchanged; only the real time spent shrinks.
void SetTimeScaleForTest(double scale);
double TimeScale();

// Milliseconds a nominal duration really lasts under the time scale.
uint32_t ScaledMs(uint32_t nominal_ms);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_THREAD_H_
