// text_convert.cc: the iconv wrapper behind code pages and device paths.
//
// Converters are pooled per (from, to) pair for the life of the process.
// Opening a descriptor loads the charset's gconv module and closing the last
// one unloads it again, which cost more than the conversion itself; a pool
// never closes its last descriptor, so each module is loaded once. A
// descriptor is leased by one thread at a time and reset before it goes
// back. Pools are never freed: threads still converting at exit keep valid
// descriptors.
#include "platform/text_convert.h"

#include <errno.h>
#include <iconv.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace mms::platform {

static_assert(sizeof(wchar_t) == 4, "wide text is taken as UTF-32");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "kWideCharset names the little-endian form");
// UTF-32LE rather than WCHAR_T: glibc's UTF-32 module refuses surrogates
// and code points past U+10FFFF in both directions.
const char kWideCharset[] = "UTF-32LE";

namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);
constexpr size_t kMaxName = 32;  // longer charset names are not pooled
constexpr int kMaxIdle = 4;      // idle descriptors kept per pair
constexpr size_t kMaxPools = 64;

struct Pool {
  char from[kMaxName];
  char to[kMaxName];
  std::mutex mu;
  bool unknown = false;         // iconv knows no such pair; guarded by mu
  iconv_t idle[kMaxIdle] = {};  // guarded by mu
  int idle_count = 0;           // guarded by mu
};

std::mutex g_pools_mu;     // serialises adding pools
Pool* g_pools[kMaxPools];  // published before g_pool_count
std::atomic<size_t> g_pool_count{0};

Pool* FindPool(const char* from, const char* to) {
  size_t count = g_pool_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(g_pools[i]->from, from) == 0 &&
        std::strcmp(g_pools[i]->to, to) == 0) {
      return g_pools[i];
    }
  }
  return nullptr;
}

// The pool for a pair, made on first use; null when the names are too long
// or the table is full (such pairs open a descriptor per conversion).
Pool* PoolFor(const char* from, const char* to) {
  if (Pool* pool = FindPool(from, to)) {
    return pool;
  }
  if (std::strlen(from) >= kMaxName || std::strlen(to) >= kMaxName) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_pools_mu);
  if (Pool* pool = FindPool(from, to)) {
    return pool;
  }
  size_t count = g_pool_count.load(std::memory_order_relaxed);
  if (count == kMaxPools) {
    return nullptr;
  }
  Pool* pool = new Pool;  // lives as long as the process
  std::strcpy(pool->from, from);
  std::strcpy(pool->to, to);
  g_pools[count] = pool;
  g_pool_count.store(count + 1, std::memory_order_release);
  return pool;
}

// A descriptor leased from its pair's pool for one conversion.
class Lease {
 public:
  Lease(const char* from, const char* to) : pool_(PoolFor(from, to)) {
    if (pool_ != nullptr) {
      std::lock_guard<std::mutex> lock(pool_->mu);
      if (pool_->unknown) {
        return;
      }
      if (pool_->idle_count > 0) {
        cd_ = pool_->idle[--pool_->idle_count];
        return;
      }
    }
    cd_ = iconv_open(to, from);
    if (cd_ == kNoDescriptor && errno == EINVAL && pool_ != nullptr) {
      std::lock_guard<std::mutex> lock(pool_->mu);
      pool_->unknown = true;  // the charset list does not change at run time
    }
  }
  ~Lease() {
    if (cd_ == kNoDescriptor) {
      return;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to initial state
    if (pool_ != nullptr) {
      std::lock_guard<std::mutex> lock(pool_->mu);
      if (pool_->idle_count < kMaxIdle) {
        pool_->idle[pool_->idle_count++] = cd_;
        return;
      }
    }
    iconv_close(cd_);  // a full pool still holds kMaxIdle open descriptors
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

  iconv_t get() const { return cd_; }

 private:
  Pool* pool_;
  iconv_t cd_ = kNoDescriptor;
};

// One iconv call's worth of input into out, or into scratch once out is
// full (counting the rest, so invalid input is still found). False for
// invalid input.
bool Step(iconv_t cd, char** src, size_t* src_left, char** out,
          size_t* out_left, size_t* produced, bool* counting) {
  char scratch[256];
  for (;;) {
    char* dst = *counting ? scratch : *out;
    size_t room = *counting ? sizeof scratch : *out_left;
    size_t before = room;
    size_t rc = iconv(cd, src, src_left, &dst, &room);
    *produced += before - room;
    if (!*counting) {
      *out = dst;
      *out_left = room;
    }
    if (rc == static_cast<size_t>(-1)) {
      if (errno != E2BIG) {
        return false;  // EILSEQ or EINVAL (cut short)
      }
      *counting = true;
      continue;
    }
    // Irreversible conversions mean a substitute was written.
    return rc == 0;
  }
}

}  // namespace

ConvertResult ConvertInto(const char* from_charset, const char* to_charset,
                          const void* in, size_t in_bytes, void* out,
                          size_t out_bytes, size_t* produced, size_t* written) {
  *produced = 0;
  if (written != nullptr) {
    *written = 0;
  }
  Lease lease(from_charset, to_charset);
  if (lease.get() == kNoDescriptor) {
    return ConvertResult::kUnknownCharset;
  }
  // iconv takes a non-const input pointer but never writes through it.
  char* src = const_cast<char*>(static_cast<const char*>(in));
  size_t src_left = in_bytes;
  char* dst = static_cast<char*>(out);
  size_t dst_left = out == nullptr ? 0 : out_bytes;
  bool counting = out == nullptr;  // iconv wants a real output pointer
  if (!Step(lease.get(), &src, &src_left, &dst, &dst_left, produced,
            &counting)) {
    return ConvertResult::kInvalidInput;
  }
  // Flush any shift state (stateful charsets only).
  if (!Step(lease.get(), nullptr, nullptr, &dst, &dst_left, produced,
            &counting)) {
    return ConvertResult::kInvalidInput;
  }
  if (written != nullptr && out != nullptr) {
    *written = out_bytes - dst_left;
  }
  return *produced > (out == nullptr ? 0 : out_bytes)
             ? ConvertResult::kOutputTooSmall
             : ConvertResult::kOk;
}

ConvertResult ConvertText(const char* from_charset, const char* to_charset,
                          const void* in, size_t in_bytes, std::string* out) {
  // Four bytes per input byte holds every conversion the library makes
  // (one byte to UTF-32 at most); the rare longer one converts again.
  out->resize(in_bytes * 4 + 16);
  size_t produced = 0;
  ConvertResult result = ConvertInto(from_charset, to_charset, in, in_bytes,
                                     out->data(), out->size(), &produced);
  if (result == ConvertResult::kOutputTooSmall) {
    out->resize(produced);
    result = ConvertInto(from_charset, to_charset, in, in_bytes, out->data(),
                         out->size(), &produced);
  }
  out->resize(result == ConvertResult::kOk ? produced : 0);
  return result;
}

bool WideToUtf8Text(const std::wstring& wide, std::string* utf8) {
  return ConvertText(kWideCharset, "UTF-8", wide.data(),
                     wide.size() * sizeof(wchar_t), utf8) == ConvertResult::kOk;
}

bool Utf8ToWideText(const std::string& utf8, std::wstring* wide) {
  wide->resize(utf8.size());  // one character per byte at most
  size_t produced = 0;
  ConvertResult result =
      ConvertInto("UTF-8", kWideCharset, utf8.data(), utf8.size(), wide->data(),
                  wide->size() * sizeof(wchar_t), &produced);
  wide->resize(result == ConvertResult::kOk ? produced / sizeof(wchar_t) : 0);
  return result == ConvertResult::kOk;
}

}  // namespace mms::platform
