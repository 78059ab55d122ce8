// text_decode.cc: charset conversion of PDU texts, through iconv.
#include "codec/text_decode.h"

#include <cstring>

#include "codec/header_table.h"
#include "platform/text_convert.h"
#include "platform/winapi.h"

namespace mms::codec {
namespace {

bool IsAscii(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] >= 0x80) {
      return false;
    }
  }
  return true;
}

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The text as UTF-8, or false when its charset cannot convert it.
bool ToUtf8(uint32_t charset, const uint8_t* bytes, size_t n,
            std::string* out) {
  const CharsetRow* row = charset == 0 ? nullptr : FindCharset(charset);
  const bool utf8 = row == nullptr || row->mib == kCharsetUtf8 || row->mib == 3;
  if (utf8 && IsUtf8(bytes, n)) {
    out->assign(reinterpret_cast<const char*>(bytes), n);
    return true;
  }
  if (utf8) {
    // Not UTF-8 after all: each byte is a Latin-1 character.
    out->clear();
    for (size_t i = 0; i < n; ++i) {
      AppendUtf8(bytes[i], out);
    }
    return true;
  }
  return platform::ConvertText(row->iconv, "UTF-8", bytes, n, out) ==
         platform::ConvertResult::kOk;
}

}  // namespace

bool IsUtf8(const uint8_t* bytes, size_t n) {
  size_t i = 0;
  while (i < n) {
    const uint8_t b = bytes[i];
    size_t more = 0;
    if (b < 0x80) {
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) {
      more = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      more = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      more = 3;
    } else {
      return false;
    }
    if (i + more >= n) {
      return false;
    }
    for (size_t k = 1; k <= more; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) {
        return false;
      }
    }
    i += more + 1;
  }
  return true;
}

std::string TextToUtf8(uint32_t charset, const ByteReader& text) {
  std::string out;
  const uint8_t* bytes = text.current();
  const size_t n = text.remaining();
  if (!ToUtf8(charset, bytes, n, &out)) {
    (void)ToUtf8(0, bytes, n, &out);
  }
  if (out.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    out.erase(0, 3);
  }
  return out;
}

std::string TextToAnsi(uint32_t charset, const ByteReader& text) {
  const uint8_t* bytes = text.current();
  const size_t n = text.remaining();
  const CharsetRow* row = charset == 0 ? nullptr : FindCharset(charset);
  const bool sixteen = row != nullptr && row->mib >= 1000 && row->mib <= 1017;
  if (!sixteen && IsAscii(bytes, n)) {
    return std::string(reinterpret_cast<const char*>(bytes), n);
  }
  const std::string utf8 = TextToUtf8(charset, text);
  std::wstring wide;
  if (!platform::Utf8ToWideText(utf8, &wide) || wide.empty()) {
    return std::string();
  }
  std::string out(wide.size() * 4 + 1, '\0');
  int got = WideCharToMultiByte(CP_ACP, 0, wide.data(),
                                static_cast<int>(wide.size()), out.data(),
                                static_cast<int>(out.size()), nullptr, nullptr);
  if (got > 0) {
    out.resize(static_cast<size_t>(got));
    return out;
  }
  // One character at a time: what the code page cannot hold becomes "?".
  out.clear();
  for (wchar_t c : wide) {
    char one[8];
    got = WideCharToMultiByte(CP_ACP, 0, &c, 1, one, sizeof one, nullptr,
                              nullptr);
    if (got > 0) {
      out.append(one, static_cast<size_t>(got));
    } else {
      out.push_back('?');
    }
  }
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
  if (utf8.size() <= max) {
    return utf8.size();
  }
  size_t end = max;
  while (end > 0 && (static_cast<uint8_t>(utf8[end]) & 0xC0) == 0x80) {
    --end;
  }
  return end;
}

}  // namespace mms::codec
