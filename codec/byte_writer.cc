// byte_writer.cc: growth under the cap, and the WSP value forms.
#include "codec/byte_writer.h"

#include <cassert>
#include <cstring>

#include "codec/header_table.h"
#include "codec/uintvar.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr size_t kFirstCapacity = 64;
// Blocks are not zero-filled: only the bytes written are ever read or
// handed out, and a 300 KB PDU should not be cleared just to be overwritten.
constexpr UINT kUncleared = LMEM_FIXED;

}  // namespace

ByteWriter::~ByteWriter() {
  if (data_ != nullptr) {
    LocalFree(data_);
  }
}

bool ByteWriter::Fail() {
  if (data_ != nullptr) {
    LocalFree(data_);
  }
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  failed_ = true;
  return false;
}

bool ByteWriter::Grow(size_t needed) {
  size_t capacity = capacity_ < kFirstCapacity ? kFirstCapacity : capacity_;
  while (capacity < needed) {
    capacity = capacity > cap_ / 2 ? cap_ : capacity * 2;
  }
  return MoveTo(capacity > cap_ ? cap_ : capacity);
}

bool ByteWriter::MoveTo(size_t capacity) {
  auto* block = static_cast<uint8_t*>(LocalAlloc(kUncleared, capacity));
  if (block == nullptr) {
    return Fail();
  }
  if (size_ > 0) {
    std::memcpy(block, data_, size_);
  }
  if (data_ != nullptr) {
    LocalFree(data_);
  }
  data_ = block;
  capacity_ = capacity;
  return true;
}

bool ByteWriter::Reserve(size_t n) {
  if (failed_) {
    return false;
  }
  if (n > cap_ - size_) {
    return Fail();
  }
  if (size_ + n <= capacity_) {
    return true;
  }
  return MoveTo(size_ + n);  // exact: the caller knows the final size
}

bool ByteWriter::PutBytes(const void* bytes, size_t n) {
  if (failed_) {
    return false;
  }
  if (n == 0) {
    return true;
  }
  if (n > cap_ - size_) {
    return Fail();
  }
  if (size_ + n > capacity_ && !Grow(size_ + n)) {
    return false;
  }
  std::memcpy(data_ + size_, bytes, n);
  size_ += n;
  return true;
}

bool ByteWriter::PutByte(uint8_t b) { return PutBytes(&b, 1); }

uint8_t* ByteWriter::Extend(size_t n) {
  if (failed_ || n == 0) {
    return nullptr;
  }
  if (n > cap_ - size_) {
    Fail();
    return nullptr;
  }
  if (size_ + n > capacity_ && !Grow(size_ + n)) {
    return nullptr;
  }
  uint8_t* at = data_ + size_;
  size_ += n;
  return at;
}

bool ByteWriter::PutWriter(const ByteWriter& other) {
  assert(&other != this);  // growing would free the bytes being copied
  if (!other.ok()) {
    return Fail();
  }
  return PutBytes(other.data(), other.size());
}

bool ByteWriter::PutShortInteger(uint8_t value) {
  return PutByte(static_cast<uint8_t>(value | 0x80));
}

bool ByteWriter::PutTextString(const char* text, size_t n) {
  if (n > 0 && static_cast<uint8_t>(text[0]) >= 0x80 && !PutByte(kTextQuote)) {
    return false;
  }
  return PutBytes(text, n) && PutByte(0);
}

size_t TextStringSize(const char* text, size_t n) {
  return n + 1 + (n > 0 && static_cast<uint8_t>(text[0]) >= 0x80 ? 1 : 0);
}

bool ByteWriter::PutTextString(const char* text) {
  return PutTextString(text, std::strlen(text));
}

bool ByteWriter::PutQuotedString(const char* text, size_t n) {
  return PutByte(kStringQuote) && PutBytes(text, n) && PutByte(0);
}

bool ByteWriter::PutValueLength(uint32_t length) {
  if (length <= kMaxShortLength) {
    return PutByte(static_cast<uint8_t>(length));
  }
  return PutByte(kLengthQuote) && PutUintvar(length);
}

bool ByteWriter::PutValueLengthAnd(const ByteWriter& value) {
  if (!value.ok() || value.size() > UINT32_MAX) {
    return Fail();
  }
  return PutValueLength(static_cast<uint32_t>(value.size())) &&
         PutWriter(value);
}

bool ByteWriter::PutEncodedString(uint8_t charset, const char* text, size_t n) {
  // The length counts the charset byte, the text with its quote and its 0.
  if (n > UINT32_MAX - 3) {
    return Fail();
  }
  return PutValueLength(static_cast<uint32_t>(TextStringSize(text, n) + 1)) &&
         PutShortInteger(charset) && PutTextString(text, n);
}

bool ByteWriter::PutLongInteger(uint32_t value) {
  unsigned char bytes[4];
  int count = 0;
  EncodeLongInteger(value, bytes, &count);
  return PutByte(static_cast<uint8_t>(count)) &&
         PutBytes(bytes + 4 - count, static_cast<size_t>(count));
}

bool ByteWriter::PutUintvar(uint32_t value) {
  uint8_t bytes[kMaxUintvarBytes];
  const size_t n = mms::codec::PutUintvar(value, bytes);
  return PutBytes(bytes, n);
}

unsigned char* ByteWriter::TakeBlock(size_t* size) {
  if (failed_ || size_ == 0) {
    return nullptr;
  }
  if (size_ != capacity_) {
    auto* exact = static_cast<uint8_t*>(LocalAlloc(kUncleared, size_));
    if (exact == nullptr) {
      Fail();
      return nullptr;
    }
    std::memcpy(exact, data_, size_);
    LocalFree(data_);
    data_ = exact;
    capacity_ = size_;
  }
  unsigned char* block = data_;
  *size = size_;
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  return block;
}

}  // namespace mms::codec
