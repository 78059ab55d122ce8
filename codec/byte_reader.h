// byte_reader.h: the one bounded cursor every decoder reads through.
//
// A ByteReader borrows (data, size); it never owns the bytes. Every read is
// checked against the real end; a failed read returns false and leaves the
// cursor where it was, so calls chain with &&. Split() hands out a child
// reader bounded by a length field and advances the parent past it.
#ifndef MMS_CODEC_BYTE_READER_H_
#define MMS_CODEC_BYTE_READER_H_

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "codec/uintvar.h"

namespace mms::codec {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

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
    *b = data_[pos_];
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
    return true;
  }

  [[nodiscard]] bool ReadUintvar(uint32_t* value) {
    const size_t used = GetUintvar(data_ + pos_, remaining(), value);
    if (used == 0) {
      return false;
    }
    pos_ += used;
    return true;
  }

  // A child reader over the next n bytes; the parent moves past them.
  [[nodiscard]] bool Split(size_t n, ByteReader* child) {
    const uint8_t* bytes = nullptr;
    if (!ReadBytes(n, &bytes)) {
      return false;
    }
    *child = ByteReader(bytes, n);
    return true;
  }

  // Moves the cursor back to an earlier position of this reader.
  void Rewind(size_t position) {
    assert(position <= size_);
    pos_ = position;
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;  // always <= size_
};

}  // namespace mms::codec

#endif  // MMS_CODEC_BYTE_READER_H_
