// test_seams.h: fixed clock, tick count and random draw for tests, an
// injected thread-creation failure, and the count of directory entries read.
//
// Tests that check exact bytes holding a date, a transaction ID or a file
// name fix these values; production code never calls the setters.
#ifndef MMS_PLATFORM_TEST_SEAMS_H_
#define MMS_PLATFORM_TEST_SEAMS_H_

#include <cstdint>

#include "mms.h"

namespace mms::platform::test {

// GetSystemTime gives this UTC time (and GetLocalTime its local form).
void FixClock(const SYSTEMTIME& utc);
// GetTickCount gives this value.
void FixTickCount(DWORD ticks);
// Random gives this value.
void FixRandom(DWORD value);
// The nth CreateThread from now (1 = the next one) fails as if the
// system had no thread to give; 0 cancels a pending failure.
void FailNthThreadCreation(int nth);
// Directory entries the device file system has read so far (a listing
// of a folder reads each of its entries once).
uint64_t DirectoryEntriesRead();
// Back to the real clock, tick count and random source.
void ResetSeams();

}  // namespace mms::platform::test

#endif  // MMS_PLATFORM_TEST_SEAMS_H_
