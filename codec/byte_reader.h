// byte_reader.h: the one bounded cursor every decoder reads through.
//
// A ByteReader borrows (data, size); it never owns the bytes. Every read is
// checked against the real end; a failed read returns false and leaves the
// cursor where it was, so calls chain with &&. Split() hands out a child
// reader bounded by a length field and advances the parent past it.
// While a CountExamined lives, every reader adds the bytes it examines to
// its counter, so tests can show a decoder is linear. Like assert, the
// count is kept in checked builds only (NDEBUG unset): a release build's
// reader has nothing but the bounds check on each byte. Readers are copied
// and cleared on every step of a parse, so they hold three words only.
#ifndef MMS_CODEC_BYTE_READER_H_
#define MMS_CODEC_BYTE_READER_H_

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/uintvar.h"

namespace mms::codec {

#ifdef NDEBUG
inline constexpr bool kCountsExamined = false;
#else
inline constexpr bool kCountsExamined = true;
#endif

// The counter of CountExamined; null (the usual case) counts nothing.
inline std::atomic<uint64_t*> examined_bytes{nullptr};

// Counts the bytes every reader examines while it lives. For tests: one at
// a time, with no other decode running.
class CountExamined {
 public:
  explicit CountExamined(uint64_t* counter) {
    examined_bytes.store(counter, std::memory_order_relaxed);
  }
  ~CountExamined() { examined_bytes.store(nullptr, std::memory_order_relaxed); }
  CountExamined(const CountExamined&) = delete;
  CountExamined& operator=(const CountExamined&) = delete;
};

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // Copied field by field: a reader is written that way, and a copy as one
  // block of a reader just written waits for the writes to reach memory.
  ByteReader(const ByteReader& o)
      : data_(o.data_), size_(o.size_), pos_(o.pos_) {}
  ByteReader& operator=(const ByteReader& o) {
    data_ = o.data_;
    size_ = o.size_;
    pos_ = o.pos_;
    return *this;
  }

  size_t position() const { return pos_; }
  size_t size() const { return size_; }
  size_t remaining() const { return size_ - pos_; }
  bool empty() const { return pos_ >= size_; }
  // Borrowed pointer to the next unread byte.
  const uint8_t* current() const { return data_ + pos_; }

  [[nodiscard]] bool PeekByte(uint8_t* b) const {
    if (pos_ >= size_) {
      return false;
    }
    Count(1);
    *b = data_[pos_];
    return true;
  }

  // Offset from the cursor of the next byte equal to value; false when
  // there is none. The cursor does not move.
  [[nodiscard]] bool Find(uint8_t value, size_t* offset) const {
    const void* hit =
        empty() ? nullptr : std::memchr(data_ + pos_, value, remaining());
    if (hit == nullptr) {
      Count(remaining());
      return false;
    }
    *offset =
        static_cast<size_t>(static_cast<const uint8_t*>(hit) - (data_ + pos_));
    Count(*offset + 1);
    return true;
  }

  [[nodiscard]] bool ReadByte(uint8_t* b) {
    if (!PeekByte(b)) {
      return false;
    }
    ++pos_;
    return true;
  }

  [[nodiscard]] bool Skip(size_t n) {
    if (n > remaining()) {
      return false;
    }
    pos_ += n;
    return true;
  }

  // Borrows the next n bytes and advances past them.
  [[nodiscard]] bool ReadBytes(size_t n, const uint8_t** bytes) {
    if (n > remaining()) {
      return false;
    }
    *bytes = data_ + pos_;
    pos_ += n;
    Count(n);
    return true;
  }

  [[nodiscard]] bool ReadUintvar(uint32_t* value) {
    if (pos_ < size_ && data_[pos_] < 0x80) {
      *value = data_[pos_++];  // one byte, the usual case
      Count(1);
      return true;
    }
    const size_t used = GetUintvar(data_ + pos_, remaining(), value);
    if (used == 0) {
      return false;
    }
    pos_ += used;
    Count(used);
    return true;
  }

  // A child reader over the next n bytes; the parent moves past them.
  [[nodiscard]] bool Split(size_t n, ByteReader* child) {
    if (n > remaining()) {
      return false;
    }
    *child = ByteReader(data_ + pos_, n);
    pos_ += n;
    return true;
  }

  // Moves the cursor back to an earlier position of this reader.
  void Rewind(size_t position) {
    assert(position <= size_);
    pos_ = position;
  }

 private:
  static void Count(size_t n) {
    if constexpr (kCountsExamined) {
      uint64_t* counter = examined_bytes.load(std::memory_order_relaxed);
      if (counter != nullptr) {
        *counter += n;
      }
    }
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;  // always <= size_
};

}  // namespace mms::codec

#endif  // MMS_CODEC_BYTE_READER_H_
