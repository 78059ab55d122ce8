// text_decode.cc: charset conversion of PDU texts, through iconv.
#include "codec/text_decode.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "codec/header_table.h"
#include "platform/text_convert.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr size_t kBomBytes = 3;
// A field's conversion runs in buffers on the stack up to this size.
constexpr size_t kStackBytes = 1200;

// Bytes before the first one of 128 or more, eight at a time.
size_t AsciiRun(const uint8_t* bytes, size_t n) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  size_t i = 0;
  for (uint64_t word = 0; i + 8 <= n; i += 8) {
    std::memcpy(&word, bytes + i, 8);
    if ((word & kHighBits) != 0) {
      break;
    }
  }
  while (i < n && bytes[i] < 0x80) {
    ++i;
  }
  return i;
}

bool IsAscii(const uint8_t* bytes, size_t n) { return AsciiRun(bytes, n) == n; }

// Bytes of the longest whole-character prefix of UTF-8 text[0..n) that is
// at most max bytes long.
size_t Utf8PrefixOf(const char* text, size_t n, size_t max) {
  if (n <= max) {
    return n;
  }
  size_t end = max;
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return end;
}

// Bytes of the UTF-8 character starting at bytes[0] (n > 0, bytes[0] of
// 128 or more), or 0 when no whole, well-formed one starts there.
size_t Utf8SequenceAt(const uint8_t* bytes, size_t n) {
  const uint8_t b = bytes[0];
  size_t more = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    more = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    more = 2;
  } else if (b >= 0xF0 && b <= 0xF4) {
    more = 3;
  } else {
    return 0;
  }
  if (more >= n) {
    return 0;
  }
  for (size_t k = 1; k <= more; ++k) {
    if ((bytes[k] & 0xC0) != 0x80) {
      return 0;
    }
  }
  return more + 1;
}

// A text said to be UTF-8 into out[0..room), whole characters only, each
// byte that starts no character as U+FFFD: a sender that cut its text
// inside a character loses that character, not the whole text. The bytes
// written.
size_t Utf8RepairedInto(const uint8_t* bytes, size_t n, char* out,
                        size_t room) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  size_t size = 0;
  for (size_t i = 0; i < n;) {
    size_t length = bytes[i] < 0x80 ? 1 : Utf8SequenceAt(bytes + i, n - i);
    const char* from = reinterpret_cast<const char*>(bytes + i);
    size_t bytes_out = length;
    if (length == 0) {
      from = kReplacement;
      bytes_out = 3;
      length = 1;
    }
    if (size + bytes_out > room) {
      break;
    }
    std::memcpy(out + size, from, bytes_out);
    size += bytes_out;
    i += length;
  }
  return size;
}

// Each byte a Latin-1 character, as UTF-8 into out[0..room), whole
// characters only; the bytes written.
size_t Latin1Into(const uint8_t* bytes, size_t n, char* out, size_t room) {
  size_t size = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = bytes[i];
    if (c < 0x80) {
      if (size + 1 > room) {
        break;
      }
      out[size++] = static_cast<char>(c);
    } else {
      if (size + 2 > room) {
        break;
      }
      out[size++] = static_cast<char>(0xC0 | c >> 6);
      out[size++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return size;
}

// A buffer of n bytes: on the stack when n is small, else on the heap.
class Scratch {
 public:
  explicit Scratch(size_t n) {
    if (n > sizeof stack_) {
      heap_.resize(n);
    }
  }
  char* data() { return heap_.empty() ? stack_ : heap_.data(); }

 private:
  alignas(wchar_t) char stack_[kStackBytes];
  std::vector<char> heap_;
};

}  // namespace

bool IsUtf8(const uint8_t* bytes, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (bytes[i] < 0x80) {
      i += AsciiRun(bytes + i, n - i);
      continue;
    }
    const size_t length = Utf8SequenceAt(bytes + i, n - i);
    if (length == 0) {
      return false;
    }
    i += length;
  }
  return true;
}

size_t TextToUtf8Into(uint32_t charset, const ByteReader& text, char* out,
                      size_t cap) {
  const uint8_t* bytes = text.current();
  const size_t n = text.remaining();
  // One byte past cap (after a byte-order mark) tells whether the byte at
  // cap starts a character.
  const size_t room = cap + kIntoSlack;
  const CharsetRow* row = charset == 0 ? nullptr : FindCharset(charset);
  const bool utf8 = row == nullptr || row->mib == kCharsetUtf8 || row->mib == 3;
  size_t size = 0;
  bool converted = false;
  if (!utf8) {
    // iconv stops before a character that does not fit, so a cut
    // conversion still ends on a whole one.
    size_t produced = 0;
    const platform::ConvertResult result = platform::ConvertInto(
        row->iconv, "UTF-8", bytes, n, out, room, &produced, &size);
    converted = result == platform::ConvertResult::kOk ||
                result == platform::ConvertResult::kOutputTooSmall;
  }
  if (!converted) {
    if (IsUtf8(bytes, n)) {
      size = std::min(n, room);
      std::memcpy(out, bytes, size);
    } else if (row != nullptr && row->mib == kCharsetUtf8) {
      size = Utf8RepairedInto(bytes, n, out, room);
    } else {
      size = Latin1Into(bytes, n, out, room);  // not UTF-8 after all
    }
  }
  if (size >= kBomBytes && std::memcmp(out, kBom, kBomBytes) == 0) {
    size -= kBomBytes;
    std::memmove(out, out + kBomBytes, size);
  }
  return Utf8PrefixOf(out, size, cap);
}

size_t TextToAnsiInto(uint32_t charset, const ByteReader& text, char* out,
                      size_t cap) {
  const uint8_t* bytes = text.current();
  const size_t n = text.remaining();
  const CharsetRow* row = charset == 0 ? nullptr : FindCharset(charset);
  const bool sixteen = row != nullptr && row->mib >= 1000 && row->mib <= 1017;
  if (!sixteen && IsAscii(bytes, n)) {
    const size_t size = std::min(n, cap);
    std::memcpy(out, bytes, size);
    return size;
  }
  // cap bytes hold at most cap characters, each at most 4 UTF-8 bytes; a
  // text of n bytes makes at most 4n.
  const size_t utf8_cap = std::min(cap, n + 1) * 4;
  Scratch utf8(utf8_cap + kIntoSlack);
  const size_t utf8_size = TextToUtf8Into(charset, text, utf8.data(), utf8_cap);
  const size_t wide_cap = std::min(cap, utf8_size) + 1;
  Scratch wide_bytes(wide_cap * sizeof(wchar_t));
  auto* wide = reinterpret_cast<wchar_t*>(wide_bytes.data());
  size_t produced = 0;
  size_t written = 0;
  const platform::ConvertResult result = platform::ConvertInto(
      "UTF-8", platform::kWideCharset, utf8.data(), utf8_size, wide,
      wide_cap * sizeof(wchar_t), &produced, &written);
  if (result != platform::ConvertResult::kOk &&
      result != platform::ConvertResult::kOutputTooSmall) {
    return 0;
  }
  const size_t chars = written / sizeof(wchar_t);
  if (chars == 0) {
    return 0;
  }
  const int got =
      WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(chars), out,
                          static_cast<int>(cap), nullptr, nullptr);
  if (got > 0) {
    return static_cast<size_t>(got);
  }
  // One character at a time: what the code page cannot hold becomes "?".
  size_t size = 0;
  for (size_t i = 0; i < chars; ++i) {
    char one[8];
    int bytes_of_one = WideCharToMultiByte(CP_ACP, 0, &wide[i], 1, one,
                                           sizeof one, nullptr, nullptr);
    if (bytes_of_one <= 0) {
      one[0] = '?';
      bytes_of_one = 1;
    }
    if (size + static_cast<size_t>(bytes_of_one) > cap) {
      break;
    }
    std::memcpy(out + size, one, static_cast<size_t>(bytes_of_one));
    size += static_cast<size_t>(bytes_of_one);
  }
  return size;
}

std::string TextToUtf8(uint32_t charset, const ByteReader& text) {
  // Every conversion makes at most 4 UTF-8 bytes of an input byte.
  const size_t cap = text.remaining() * 4 + 4;
  std::string out(cap + kIntoSlack, '\0');
  out.resize(TextToUtf8Into(charset, text, out.data(), cap));
  return out;
}

std::string TextToAnsi(uint32_t charset, const ByteReader& text) {
  // At most one character an input byte, at most 4 bytes a character.
  const size_t cap = text.remaining() * 4 + 4;
  std::string out(cap + kIntoSlack, '\0');
  out.resize(TextToAnsiInto(charset, text, out.data(), cap));
  return out;
}

bool ReadTextRule(ByteReader& r, EncodedString* out) {
  uint8_t first = 0;
  if (!r.PeekByte(&first)) {
    return false;
  }
  if (first > 0 && first <= 31) {
    return ReadEncodedString(r, out);
  }
  const size_t start = r.position();
  ByteReader text;
  if (!ReadTextString(r, &text)) {
    return false;
  }
  out->charset = 0;
  out->text = text;
  if (IsUtf8(text.current(), text.remaining())) {
    return true;
  }
  size_t stop = 0;
  while (stop < text.remaining() && text.current()[stop] <= 128) {
    ++stop;
  }
  if (stop == text.remaining()) {
    return true;
  }
  r.Rewind(start);
  const size_t quote = static_cast<size_t>(text.current() - r.current());
  (void)r.Skip(quote);
  return r.Split(stop, &out->text);
}

size_t Utf8Prefix(const std::string& utf8, size_t max) {
  return Utf8PrefixOf(utf8.data(), utf8.size(), max);
}

}  // namespace mms::codec
