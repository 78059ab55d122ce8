// byte_writer.h: the one capped writer every encoder builds PDUs with.
//
// A ByteWriter owns a LocalAlloc block that grows under a fixed cap. Each
// append returns false when it would pass the cap or memory runs out; the
// writer then drops what it held and refuses every later append, so a PDU
// is never handed out half built. The Put helpers are the only code that
// lays out the WSP value forms; no encoder writes them by hand.
#ifndef MMS_CODEC_BYTE_WRITER_H_
#define MMS_CODEC_BYTE_WRITER_H_

#include <cstddef>
#include <cstdint>

namespace mms::codec {

// Bytes the Text-string of text[0..n) takes: quote, text and 0.
size_t TextStringSize(const char* text, size_t n);

class ByteWriter {
 public:
  explicit ByteWriter(size_t cap) : cap_(cap) {}
  ~ByteWriter();
  ByteWriter(const ByteWriter&) = delete;
  ByteWriter& operator=(const ByteWriter&) = delete;

  bool ok() const { return !failed_; }
  size_t size() const { return size_; }
  // Borrowed view of the bytes written so far (null while empty).
  const uint8_t* data() const { return data_; }

  // Makes room for n more bytes at once, so that a writer whose final size
  // is known allocates a single time.
  [[nodiscard]] bool Reserve(size_t n);

  [[nodiscard]] bool PutByte(uint8_t b);
  [[nodiscard]] bool PutBytes(const void* bytes, size_t n);
  // Appends n bytes for the caller to fill at once (a file read straight
  // into the PDU) and returns where they start; null when refused. The
  // pointer is good until the next append.
  [[nodiscard]] uint8_t* Extend(size_t n);
  // Appends everything another writer holds.
  [[nodiscard]] bool PutWriter(const ByteWriter& other);

  // Short-integer: a 7-bit code or value with bit 7 set.
  [[nodiscard]] bool PutShortInteger(uint8_t value);
  // Text-string: the bytes, then 0; a text starting with a byte of 128 or
  // more gets the quote 127 in front, so that receivers read it as text.
  [[nodiscard]] bool PutTextString(const char* text, size_t n);
  [[nodiscard]] bool PutTextString(const char* text);
  // Quoted-string: 34, the text, 0 (there is no closing quote).
  [[nodiscard]] bool PutQuotedString(const char* text, size_t n);
  // Value-length: 0..30 as one byte; 31 and up as 31 then the uintvar.
  [[nodiscard]] bool PutValueLength(uint32_t length);
  // Value-length of the other writer's bytes, then those bytes.
  [[nodiscard]] bool PutValueLengthAnd(const ByteWriter& value);
  // Encoded-string-value with a charset (MIBenum below 128): Value-length,
  // the charset as a Short-integer, the text, 0.
  [[nodiscard]] bool PutEncodedString(uint8_t charset, const char* text,
                                      size_t n);
  // Long-integer: Short-length, then the significant big-endian bytes.
  [[nodiscard]] bool PutLongInteger(uint32_t value);
  [[nodiscard]] bool PutUintvar(uint32_t value);

  // Hands out the bytes as a LocalAlloc block of exactly size() bytes and
  // leaves the writer empty; null when the writer failed or holds nothing.
  unsigned char* TakeBlock(size_t* size);

 private:
  bool Fail();
  bool Grow(size_t needed);
  // Moves the bytes into a new block of exactly capacity bytes.
  bool MoveTo(size_t capacity);

  uint8_t* data_ = nullptr;  // LocalAlloc block, owned
  size_t size_ = 0;          // bytes written, <= capacity_
  size_t capacity_ = 0;      // bytes of data_
  size_t cap_;               // most bytes the writer may ever hold
  bool failed_ = false;      // set once; every later append is refused
};

}  // namespace mms::codec

#endif  // MMS_CODEC_BYTE_WRITER_H_
