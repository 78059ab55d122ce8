// wsp_reader_test.cc: the WSP reader reads back what the writer writes,
// refuses cut values without moving, and understands the forms other
// systems send; the writer's cap.
#include "codec/wsp_reader.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

#include "codec/byte_writer.h"
#include "support/test_support.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Hex;

// A reader over the bytes of hex, which live as long as the test program.
ByteReader Reader(const std::string& hex) {
  static std::deque<Bytes> kept;
  kept.push_back(Hex(hex));
  return ByteReader(kept.back().data(), kept.back().size());
}

std::string RandomText(std::mt19937& rng, bool high_first) {
  std::string text(rng() % 40, 'a');
  for (char& c : text) {
    c = static_cast<char>(1 + rng() % 255);
  }
  if (!text.empty()) {
    text[0] =
        static_cast<char>(high_first ? 0x80 + rng() % 128 : 35 + rng() % 92);
  }
  return text;
}

// Writes random values of every form, reads them back in order, then
// checks that each cut of the bytes fails without moving the reader.
TEST(WspReader, ReadsBackWhatTheWriterWrites) {
  std::mt19937 rng(22);
  for (int round = 0; round < 300; ++round) {
    ByteWriter w(1 << 16);
    const uint8_t short_int = rng() % 128;
    const uint32_t long_int = static_cast<uint32_t>(rng());
    const uint32_t length = rng() % 3 == 0 ? rng() % 31 : rng() % 100000;
    const std::string text = RandomText(rng, rng() % 2 == 0);
    const std::string quoted = RandomText(rng, false);
    const std::string encoded = RandomText(rng, rng() % 2 == 0);
    const uint32_t var = static_cast<uint32_t>(rng());
    ASSERT_TRUE(
        w.PutShortInteger(short_int) && w.PutLongInteger(long_int) &&
        w.PutValueLength(length) && w.PutTextString(text.data(), text.size()) &&
        w.PutQuotedString(quoted.data(), quoted.size()) &&
        w.PutEncodedString(kCharsetUtf8, encoded.data(), encoded.size()) &&
        w.PutUintvar(var));
    ByteReader r(w.data(), w.size());
    uint8_t s = 0;
    uint64_t l = 0;
    uint32_t n = 0;
    uint32_t v = 0;
    ByteReader t;
    ByteReader q;
    EncodedString e;
    ASSERT_TRUE(ReadShortInteger(r, &s) && ReadLongInteger(r, &l) &&
                ReadValueLength(r, &n) && ReadTextString(r, &t) &&
                ReadTextString(r, &q) && ReadEncodedString(r, &e) &&
                r.ReadUintvar(&v));
    EXPECT_EQ(s, short_int);
    EXPECT_EQ(l, long_int);
    EXPECT_EQ(n, length);
    EXPECT_EQ(TextOf(t), text);
    EXPECT_EQ(TextOf(q), quoted);
    EXPECT_EQ(e.charset, kCharsetUtf8);
    EXPECT_EQ(TextOf(e.text), encoded);
    EXPECT_EQ(v, var);
    EXPECT_TRUE(r.empty());

    // Cut inside the encoded string: refused, the reader unmoved.
    ByteReader cut(w.data(), w.size() - 1 - UintvarSize(var));
    ASSERT_TRUE(ReadShortInteger(cut, &s) && ReadLongInteger(cut, &l) &&
                ReadValueLength(cut, &n) && ReadTextString(cut, &t) &&
                ReadTextString(cut, &q));
    const size_t at = cut.position();
    EXPECT_FALSE(ReadEncodedString(cut, &e));
    EXPECT_EQ(cut.position(), at);
  }
}

TEST(WspReader, ContentTypesInEveryForm) {
  struct Case {
    Bytes bytes;
    const char* media;
    const char* name;
    const char* start;
  } kCases[] = {
      {Hex("83"), "text/plain", "", ""},
      {Hex("b3"), "application/vnd.wap.multipart.related", "", ""},
      {Hex("69 6d 61 67 65 2f 70 6e 67 00"), "image/png", "", ""},
      // Value-length, text/plain, Charset utf-8, Name "a.txt".
      {Hex("0a 83 81 ea 85 61 2e 74 78 74 00"), "text/plain", "a.txt", ""},
      // Length-quote, related, Start quoted, Type as text, an untyped
      // parameter and the newer Name code.
      {Hex("1f 24 b3 8a 3c 73 3e 00 89 61 70 70 6c 69 63 61 74 69 6f 6e 2f"
           "73 6d 69 6c 00 78 00 79 00 97 22 62 2e 74 78 74 00"),
       "application/vnd.wap.multipart.related", "b.txt", "<s>"},
      // A media type given as a Long-integer.
      {Hex("03 02 00 1e"), "image/jpeg", "", ""},
  };
  for (const Case& c : kCases) {
    ByteReader r(c.bytes.data(), c.bytes.size());
    ContentTypeValue type;
    ASSERT_TRUE(ReadContentType(r, &type)) << c.media;
    EXPECT_TRUE(r.empty()) << c.media;
    EXPECT_EQ(MediaTypeText(type), c.media);
    EXPECT_EQ(TextOf(type.name), c.name);
    EXPECT_EQ(TextOf(type.start), c.start);
  }
  const Bytes related = kCases[4].bytes;
  ByteReader r(related.data(), related.size());
  ContentTypeValue type;
  ASSERT_TRUE(ReadContentType(r, &type));
  EXPECT_EQ(TextOf(type.type), "application/smil");
  // Cut anywhere: refused, the reader unmoved.
  for (size_t n = 0; n + 1 < related.size(); ++n) {
    ByteReader cut(related.data(), n);
    EXPECT_FALSE(ReadContentType(cut, &type)) << n;
    EXPECT_EQ(cut.position(), 0u);
  }
}

TEST(WspReader, EncodedStringsAndHeaderNames) {
  // A charset with no text is refused; a UTF-8 text starting with 0xEA is
  // a text, not a charset.
  EncodedString e;
  ByteReader a = Reader("01 ea");
  EXPECT_FALSE(ReadEncodedString(a, &e));
  ByteReader b = Reader("ea b0 80 00");
  ASSERT_TRUE(ReadEncodedString(b, &e));
  EXPECT_EQ(e.charset, 0u);
  EXPECT_EQ(TextOf(e.text), "\xea\xb0\x80");

  ByteReader h = Reader("c0 58 2d 46 6f 6f 00 05");
  uint32_t code = 0;
  ByteReader name;
  ASSERT_TRUE(ReadHeaderName(h, &code, &name));
  EXPECT_EQ(code, 0x40u);
  ASSERT_TRUE(ReadHeaderName(h, &code, &name));
  EXPECT_EQ(code, kNoCode);
  EXPECT_TRUE(TextIs(name, "x-foo"));
  EXPECT_FALSE(ReadHeaderName(h, &code, &name));  // 5 starts no name
  EXPECT_EQ(h.position(), 7u);

  // A uintvar of six bytes, or past 32 bits, is refused.
  uint32_t v = 0;
  EXPECT_FALSE(Reader("80 80 80 80 80 01").ReadUintvar(&v));
  EXPECT_FALSE(Reader("90 80 80 80 00").ReadUintvar(&v));
}

TEST(ByteWriter, PassingTheCapDropsEverythingForGood) {
  ByteWriter w(4);
  ASSERT_TRUE(w.PutBytes("abc", 3));
  ASSERT_TRUE(w.PutByte('d'));
  EXPECT_FALSE(w.PutByte('e'));
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(w.size(), 0u);
  EXPECT_FALSE(w.PutByte('f'));
  size_t size = 99;
  EXPECT_EQ(w.TakeBlock(&size), nullptr);

  ByteWriter reserve(8);
  EXPECT_FALSE(reserve.Reserve(9));
  EXPECT_FALSE(reserve.ok());

  // A failed inner value never goes out as half a value.
  ByteWriter outer(64);
  EXPECT_FALSE(outer.PutValueLengthAnd(w));
  EXPECT_FALSE(outer.ok());
}

}  // namespace
}  // namespace mms::codec
