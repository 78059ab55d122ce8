// uintvar.cc: WSP uintvar and Long-integer primitives.
#include "codec/uintvar.h"

#include <cstring>

#include "platform/winapi.h"

namespace mms::codec {

size_t UintvarSize(uint32_t value) {
  size_t size = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++size;
  }
  return size;
}

size_t PutUintvar(uint32_t value, uint8_t* out) {
  const size_t size = UintvarSize(value);
  for (size_t i = size; i-- > 0;) {
    uint8_t group = value & 0x7F;
    if (i != size - 1) {
      group |= 0x80;
    }
    out[i] = group;
    value >>= 7;
  }
  return size;
}

size_t GetUintvar(const uint8_t* data, size_t size, uint32_t* value) {
  uint64_t result = 0;
  for (size_t i = 0; i < size && i < kMaxUintvarBytes; ++i) {
    result = (result << 7) | (data[i] & 0x7F);
    if (result > UINT32_MAX) {
      return 0;
    }
    if ((data[i] & 0x80) == 0) {
      *value = static_cast<uint32_t>(result);
      return i + 1;
    }
  }
  return 0;
}

namespace {

constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;

}  // namespace

bool SecondsToLocalTime(uint32_t value, DateSign sign, SYSTEMTIME* local) {
  const int64_t seconds = sign == DateSign::kSigned
                              ? int64_t{static_cast<int32_t>(value)}
                              : int64_t{value};
  const uint64_t units = static_cast<uint64_t>(
      seconds * kFileTimeUnitsPerSecond + kUnixEpochAsFileTime);
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(units);
  utc.dwHighDateTime = static_cast<DWORD>(units >> 32);
  FILETIME local_file_time;
  return FileTimeToLocalFileTime(&utc, &local_file_time) &&
         FileTimeToSystemTime(&local_file_time, local);
}

}  // namespace mms::codec

int EncodeUintvar(uint32_t value, unsigned char* out) {
  if (out == nullptr) {
    return 0;
  }
  mms::codec::PutUintvar(value, out);
  return 1;
}

unsigned char* MakeUintvar(uint32_t value, int* size) {
  uint8_t bytes[mms::codec::kMaxUintvarBytes];
  const size_t n = mms::codec::PutUintvar(value, bytes);
  auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, n));
  if (block == nullptr) {
    return nullptr;
  }
  std::memcpy(block, bytes, n);
  if (size != nullptr) {
    *size = static_cast<int>(n);
  }
  return block;
}

int EncodeLongInteger(uint32_t value, unsigned char* out, int* count) {
  out[0] = static_cast<unsigned char>(value >> 24);
  out[1] = static_cast<unsigned char>(value >> 16);
  out[2] = static_cast<unsigned char>(value >> 8);
  out[3] = static_cast<unsigned char>(value);
  int n = 1;
  if (out[0] != 0) {
    n = 4;
  } else if (out[1] != 0) {
    n = 3;
  } else if (out[2] != 0) {
    n = 2;
  }
  *count = n;
  return 1;
}

int64_t SystemTimeToSeconds(const SYSTEMTIME* time) {
  FILETIME file_time;
  if (time == nullptr || !SystemTimeToFileTime(time, &file_time)) {
    return 0;
  }
  const int64_t ticks = (static_cast<int64_t>(file_time.dwHighDateTime) << 32) |
                        file_time.dwLowDateTime;
  return (ticks - mms::codec::kUnixEpochAsFileTime) /
         mms::codec::kFileTimeUnitsPerSecond;
}
