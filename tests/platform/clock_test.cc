// clock_test.cc: impossible dates, and local time under TZ.
#include <stdlib.h>
#include <time.h>

#include <cstdint>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace {

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

uint64_t Value(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME Make(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

// y, mo, d, h, mi, s, ms (the day of the week is not read).
SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms = 0) {
  return SYSTEMTIME{y, mo, 0, d, h, mi, s, ms};
}

class Clock : public ::testing::Test {
 protected:
  void TearDown() override { UseZone(nullptr); }
  static void UseZone(const char* tz) {
    tz == nullptr ? unsetenv("TZ") : setenv("TZ", tz, 1);
    tzset();
  }
};

TEST_F(Clock, SystemTimeAndFileTimeConvertBothWays) {
  SYSTEMTIME t = Time(2008, 2, 29, 23, 59, 59, 999);
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&t, &ft));
  EXPECT_EQ(Value(ft), kUnixEpochAsFileTime + 1204329599999ull * 10000);
  SYSTEMTIME back{};
  FILETIME odd = Make(Value(ft) + 1234);  // sub-millisecond ticks drop
  ASSERT_TRUE(FileTimeToSystemTime(&odd, &back));
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wSecond, 59);
  EXPECT_EQ(back.wMilliseconds, 999);
  EXPECT_EQ(back.wDayOfWeek, 5);  // Friday
}

TEST_F(Clock, ImpossibleDatesAreRefused) {
  FILETIME ft;
  for (SYSTEMTIME bad :
       {Time(2009, 2, 29, 0, 0, 0), Time(2009, 13, 1, 0, 0, 0),
        Time(1600, 12, 31, 0, 0, 0), Time(2009, 1, 1, 24, 0, 0),
        Time(2009, 1, 0, 0, 0, 0), Time(2009, 1, 1, 0, 0, 0, 1000)}) {
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  FILETIME top = Make(0x8000000000000000ull);
  SYSTEMTIME out;
  EXPECT_FALSE(FileTimeToSystemTime(&top, &out));
}

TEST_F(Clock, LocalFileTimesFollowTheZoneInForce) {
  UseZone("CST-8");
  FILETIME utc = Make(kUnixEpochAsFileTime + 1236234424ull * 10000000ull);
  FILETIME local;
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(Value(local) - Value(utc), 8ull * 3600 * 10000000);

  // Summer time applies to summer instants only.
  UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
  SYSTEMTIME july = Time(2009, 7, 1, 12, 0, 0);
  SYSTEMTIME january = Time(2009, 1, 1, 12, 0, 0);
  SystemTimeToFileTime(&july, &utc);
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(Value(local) - Value(utc), 2ull * 3600 * 10000000);
  SystemTimeToFileTime(&january, &utc);
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(Value(local) - Value(utc), 1ull * 3600 * 10000000);
}

}  // namespace
