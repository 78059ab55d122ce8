// clock.cc: system and local time, FILETIME conversions, the tick count,
// the process id, Random, and the test seams that fix them.
//
// FILETIME counts 100-ns units from 1601-01-01 UTC; conversions use the
// proleptic Gregorian calendar and accept the years 1601 to 30827. Local
// time follows the process's TZ; the offset applied is the one in force at
// the instant converted.
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "platform/seam_state.h"
#include "platform/winapi.h"

namespace mms::platform {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // FILETIME units
constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr int64_t kSecondsPerDay = 86400;

std::mutex g_random_mu;
std::mt19937* g_random = nullptr;  // guarded by g_random_mu; made on first use

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2 ? 1 : 0);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// FILETIME ticks <-> one 64-bit count.
int64_t Ticks(const FILETIME& ft) {
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) |
                              ft.dwLowDateTime);
}

void SetTicks(int64_t ticks, FILETIME* ft) {
  ft->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  ft->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
}

// Seconds east of UTC in force at the given Unix second.
// localtime_r keeps the zone read earlier, so a changed TZ needs tzset.
// tzset itself stats the zone file on every call (microseconds, and the
// decoder converts a date per message), so it runs only when TZ changed.
void ReloadZoneIfTzChanged() {
  static std::mutex mu;
  static bool loaded = false;
  static std::string last_tz;
  static bool last_set = false;
  const char* tz = std::getenv("TZ");
  std::lock_guard<std::mutex> lock(mu);
  const bool set = tz != nullptr;
  if (loaded && set == last_set && (!set || last_tz == tz)) {
    return;
  }
  tzset();
  loaded = true;
  last_set = set;
  last_tz = set ? tz : "";
}

int64_t LocalOffsetAt(int64_t unix_seconds) {
  time_t t = static_cast<time_t>(unix_seconds);
  ReloadZoneIfTzChanged();
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) {
    return 0;
  }
  return local.tm_gmtoff;
}

int64_t TicksToUnixSeconds(int64_t ticks) {
  return ticks / kTicksPerSecond - kDaysFrom1601To1970 * kSecondsPerDay;
}

void UtcToLocal(const SYSTEMTIME& utc, SYSTEMTIME* local) {
  FILETIME ft;
  FILETIME lft;
  if (SystemTimeToFileTime(&utc, &ft) && FileTimeToLocalFileTime(&ft, &lft) &&
      FileTimeToSystemTime(&lft, local)) {
    return;
  }
  *local = utc;
}

}  // namespace

namespace seams {

FixedValues& Fixed() {
  static FixedValues* values = new FixedValues;  // never destroyed
  return *values;
}

}  // namespace seams
}  // namespace mms::platform

using namespace mms::platform;

void GetSystemTime(SYSTEMTIME* utc) {
  {
    seams::FixedValues& fixed = seams::Fixed();
    std::lock_guard<std::mutex> lock(fixed.mu);
    if (fixed.utc) {
      *utc = *fixed.utc;
      return;
    }
  }
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  int64_t ticks =
      (kDaysFrom1601To1970 * kSecondsPerDay + now.tv_sec) * kTicksPerSecond +
      now.tv_nsec / 100;
  FILETIME ft;
  SetTicks(ticks, &ft);
  FileTimeToSystemTime(&ft, utc);
}

void GetLocalTime(SYSTEMTIME* local) {
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  UtcToLocal(utc, local);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* file_time) {
  if (time == nullptr || file_time == nullptr || time->wYear < 1601 ||
      time->wYear > 30827 || time->wMonth < 1 || time->wMonth > 12 ||
      time->wDay < 1 || time->wDay > DaysInMonth(time->wYear, time->wMonth) ||
      time->wHour > 23 || time->wMinute > 59 || time->wSecond > 59 ||
      time->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days = DaysFromCivil(time->wYear, time->wMonth, time->wDay) +
                 kDaysFrom1601To1970;
  int64_t seconds = days * kSecondsPerDay + time->wHour * 3600 +
                    time->wMinute * 60 + time->wSecond;
  SetTicks(seconds * kTicksPerSecond + time->wMilliseconds * kTicksPerMs,
           file_time);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* time) {
  if (file_time == nullptr || time == nullptr || Ticks(*file_time) < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ticks = Ticks(*file_time);
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t days = seconds / kSecondsPerDay;
  int64_t in_day = seconds % kSecondsPerDay;
  int64_t year;
  unsigned month;
  unsigned day;
  CivilFromDays(days - kDaysFrom1601To1970, &year, &month, &day);
  time->wYear = static_cast<WORD>(year);
  time->wMonth = static_cast<WORD>(month);
  time->wDay = static_cast<WORD>(day);
  time->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01: Monday
  time->wHour = static_cast<WORD>(in_day / 3600);
  time->wMinute = static_cast<WORD>(in_day / 60 % 60);
  time->wSecond = static_cast<WORD>(in_day % 60);
  time->wMilliseconds =
      static_cast<WORD>(ticks % kTicksPerSecond / kTicksPerMs);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (utc == nullptr || local == nullptr || Ticks(*utc) < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ticks = Ticks(*utc);
  int64_t moved =
      ticks + LocalOffsetAt(TicksToUnixSeconds(ticks)) * kTicksPerSecond;
  if (moved < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SetTicks(moved, local);
  return TRUE;
}

DWORD GetTickCount(void) {
  {
    seams::FixedValues& fixed = seams::Fixed();
    std::lock_guard<std::mutex> lock(fixed.mu);
    if (fixed.ticks) {
      return *fixed.ticks;
    }
  }
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

DWORD Random(void) {
  {
    seams::FixedValues& fixed = seams::Fixed();
    std::lock_guard<std::mutex> lock(fixed.mu);
    if (fixed.random) {
      return *fixed.random;
    }
  }
  std::lock_guard<std::mutex> lock(g_random_mu);
  if (g_random == nullptr) {
    std::random_device seed;
    // Leaked on purpose: Random may run from other objects' destructors.
    g_random = new std::mt19937(seed());
  }
  return static_cast<DWORD>((*g_random)());
}
