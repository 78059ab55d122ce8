// log.cc: serialised, flushed log lines on stdout.
#include "tools/mms-centre/log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace centre {

void Log(const std::string& line) {
  static std::mutex mu;
  const std::time_t now = std::time(nullptr);
  std::tm utc = {};
  gmtime_r(&now, &utc);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &utc);
  std::lock_guard<std::mutex> lock(mu);
  std::printf("%s mms-centre: %s\n", stamp, line.c_str());
  std::fflush(stdout);
}

}  // namespace centre
