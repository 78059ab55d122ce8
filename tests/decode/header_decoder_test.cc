// header_decoder_test.cc: the header block of a PDU, field by field, and
// the bounds every read keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "codec/byte_reader.h"
#include "codec/decode/decoder.h"
#include "codec/records.h"
#include "decode/pdu_builder.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::Hex;
using mms::testing::Raw;
using mms::testing::Str;

// One decode of a PDU held in a block of exactly its size, so that any read
// past its end is caught.
struct Decoded {
  explicit Decoded(const Bytes& pdu) : bytes(new uint8_t[pdu.size() + 1]) {
    if (!pdu.empty()) {
      std::memcpy(bytes.get(), pdu.data(), pdu.size());
    }
    std::memset(&header, 0, sizeof(header));
    result = DecodeMmsHeaderBounded(&header, bytes.get(), pdu.size(), &message,
                                    &length);
  }
  ~Decoded() { FreeMmsHeader(&header); }
  std::string Text(const char* field) const { return field ? field : "<null>"; }

  std::unique_ptr<uint8_t[]> bytes;
  MMS_Header header;
  MMS_Custom_Data message;
  int length = -1;
  int result = -2;
};

SYSTEMTIME LocalTimeOf(int64_t seconds) {
  const uint64_t ticks = seconds * 10000000ULL + 116444736000000000ULL;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME local;
  SYSTEMTIME time{};
  EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_TRUE(FileTimeToSystemTime(&local, &time));
  return time;
}

TEST(HeaderDecoder, RetrieveConfFields) {
  // Date 1236205586 holds a 0 inside its value.
  const Bytes pdu =
      Cat({Hex("8c 84 98"), Str("T1"), Hex("8d 90 85 04 49 af 00 12 89 1a 80"),
           Str("+8613800000000/TYPE=PLMN"), Hex("97"),
           Str("+8613900000000/TYPE=PLMN"), Hex("82"), Str("A"), Hex("82"),
           Str("B"), Hex("96 07 ea"), Str("Hello"), Hex("90 80 8b"),
           Str("id-1"), Hex("8a 82 8f 81 86 80 94 81 84 a3 02")});
  Decoded d(pdu);
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.length, static_cast<int>(pdu.size()) - 1);  // at the count
  EXPECT_EQ(d.header.nMsgType, 0x84);
  EXPECT_EQ(d.header.nMmsVersion, 0x90);
  EXPECT_EQ(d.Text(d.header.pszTransactionId), "T1");
  EXPECT_EQ(d.Text(d.header.pszFrom), "+8613800000000");
  EXPECT_EQ(d.Text(d.header.pszTo), "+8613900000000/TYPE=PLMN");
  EXPECT_STREQ(d.message.m_szCcName, "AB");
  EXPECT_EQ(d.Text(d.header.pszSubject), "Hello");
  EXPECT_EQ(d.Text(d.header.pszMessageId), "id-1");
  EXPECT_EQ(d.message.m_bReadReport, 1);
  EXPECT_EQ(d.header.byReadReport, 0x80);
  EXPECT_EQ(d.header.byMessageClass, 0x82);
  EXPECT_EQ(d.header.byPriority, 0x81);
  EXPECT_EQ(d.header.byDeliveryReport, 0x80);
  EXPECT_EQ(d.header.bySenderVisibility, 0x81);
  ASSERT_NE(d.header.pContentType, nullptr);
  EXPECT_EQ(d.header.pContentType[0], 163);
  ASSERT_NE(d.header.pDate, nullptr);
  const SYSTEMTIME want = LocalTimeOf(1236205586);
  EXPECT_EQ(std::memcmp(d.header.pDate, &want, sizeof(want)), 0);
  EXPECT_EQ(want.wYear, 2009);
}

TEST(HeaderDecoder, ValueForms) {
  // Plain subject; a code without bit 7 (23 = To); read report No leaves
  // the flag; every To is kept, in order, joined by ",".
  Decoded a(Cat({Hex("96"), Str("Hi"), Hex("17"), Str("x"), Hex("97"), Str("y"),
                 Hex("90 81 84 a3")}));
  ASSERT_EQ(a.result, 0);
  EXPECT_EQ(a.Text(a.header.pszSubject), "Hi");
  EXPECT_EQ(a.Text(a.header.pszTo), "x,y");
  EXPECT_EQ(a.message.m_bReadReport, 0);

  // A text stops unconsumed at a byte above 128, which is read as a code.
  Decoded b(Cat({Hex("97"), Raw("abc"), Hex("96"), Str("S"), Hex("84 a3")}));
  EXPECT_EQ(b.Text(b.header.pszTo), "abc");
  EXPECT_EQ(b.Text(b.header.pszSubject), "S");

  // Charset without value length, a byte-order mark dropped; Length-quote
  // subject of 40 bytes.
  Decoded c(Cat({Hex("96 ea"), Str("\xEF\xBB\xBFYo"), Hex("84 a3")}));
  EXPECT_EQ(c.Text(c.header.pszSubject), "Yo");
  const std::string forty(39, 'k');
  Decoded q(Cat({Hex("96 1f 29 ea"), Str(forty), Hex("84 a3")}));
  EXPECT_EQ(q.Text(q.header.pszSubject), forty);

  // Expiry keeps its value; a relative Delivery-Time is added to the Date.
  Decoded t(Cat({Hex("88 05 81 03 01 51 80 84 a3")}));
  EXPECT_EQ(t.header.nExpiryTime, 86400u);
  Decoded dt(Cat({Hex("85 01 00 87 05 81 03 01 51 80 84 a3")}));
  ASSERT_NE(dt.header.pDate, nullptr);
  EXPECT_EQ(dt.header.nExpiryTime,
            86400u + SystemTimeToSeconds(dt.header.pDate));
  Decoded abs(Cat({Hex("87 06 80 04 49 af 00 12 84 a3")}));
  EXPECT_EQ(abs.header.nExpiryTime, 1236205586u);
}

TEST(HeaderDecoder, RelatedTypeKeepsStartAndTypeAndEndsTheHeader) {
  const Bytes related = Cat({Hex("84 1d b3 8a"), Str("<CMSMMS>"), Hex("89"),
                             Str("application/smil"), Hex("01")});
  Decoded d(related);
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.length, static_cast<int>(related.size()) - 1);
  EXPECT_EQ(d.Text(d.header.pszStart), "<CMSMMS>");
  EXPECT_EQ(d.Text(reinterpret_cast<char*>(d.header.pContentType)),
            "application/smil");
}

TEST(HeaderDecoder, EveryCutOfAHeaderIsRefusedWithinItsBytes) {
  const Bytes pdu = Cat({Hex("8c 84 98"), Str("T1"), Hex("85 04 49 af 00 12"),
                         Hex("89 1a 80"), Str("+8613800000000/TYPE=PLMN"),
                         Hex("96 07 ea"), Str("Hello"), Hex("82"), Str("A"),
                         Hex("88 05 81 03 01 51 80 84 1d b3 8a"),
                         Str("<CMSMMS>"), Hex("89"), Str("application/smil")});
  for (size_t n = 0; n < pdu.size(); ++n) {
    Decoded d(Bytes(pdu.begin(), pdu.begin() + n));
    EXPECT_EQ(d.result, -1) << "cut at " << n;
  }
  // Cut before its Content-Type a header gives -1: the transaction ID is
  // there to look at, but callers take it only from a whole header.
  Decoded cut(Bytes(pdu.begin(), pdu.begin() + 8));
  EXPECT_EQ(cut.result, -1);
  EXPECT_EQ(cut.Text(cut.header.pszTransactionId), "T1");
  EXPECT_EQ(Decoded(pdu).result, 0);
}

TEST(HeaderDecoder, OverlongValuesAreCutAndTheScanStaysInStep) {
  const std::string long_to(300, 'a');
  Bytes many_cc;
  for (int i = 0; i < 30; ++i) {
    many_cc = Cat({many_cc, Hex("82"),
                   Str("1390000000" + std::to_string(i % 10) + "/TYPE=PLMN")});
  }
  Decoded d(Cat({Hex("97"), Str(long_to), many_cc, Hex("96"), Str("S"),
                 Hex("85 11"), Bytes(17, 1),  // a date too long to use
                 Hex("84 a3")}));
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.Text(d.header.pszTo), std::string(259, 'a'));
  EXPECT_EQ(std::strlen(d.message.m_szCcName), 259u);
  EXPECT_EQ(d.Text(d.header.pszSubject), "S");
  EXPECT_EQ(d.header.pDate, nullptr);
}

// What messages from other systems carry: fields the library does not
// use, charsets, several recipients, a bare related type.
TEST(HeaderDecoder, FieldsOfOtherSystemsAreReadByTheirForm) {
  // X-Mms-Previously-Sent-Date and an application header whose values hold
  // field bytes: stepped over whole, so neither sets a From or a To.
  const Bytes smuggled = Cat({Hex("89 05 80"), Str("+1234")});
  Decoded a(Cat({Hex("a1 0a 80 04 49 af 00 12 97 41 42 00"), Raw("X-App"),
                 Hex("00"), smuggled, Hex("97"), Str("+111"), Hex("89 07 80"),
                 Str("+9999"), Hex("84 b3")}));
  ASSERT_EQ(a.result, 0);
  EXPECT_EQ(a.Text(a.header.pszFrom), "+9999");
  EXPECT_EQ(a.Text(a.header.pszTo), "+111");
  EXPECT_EQ(a.length, 44);  // a bare related type

  // Charsets: an ASCII-tagged From, a Latin-1 subject without charset, a
  // UCS-2 subject, a charset with no text (refused, the scan goes on).
  Decoded b(Cat({Hex("89 0a 80 08 83"), Str("+44/T"), Hex("00"), Hex("96"),
                 Str("caf\xe9"), Hex("96 01 ea"), Hex("97 0e 83"),
                 Str("+1/TYPE=PLMN"), Hex("84 83")}));
  ASSERT_EQ(b.result, 0);
  EXPECT_EQ(b.Text(b.header.pszFrom), "+44");
  EXPECT_EQ(b.Text(b.header.pszSubject), "caf\xc3\xa9");
  EXPECT_EQ(b.Text(b.header.pszTo), "+1/TYPE=PLMN");
  Decoded c(Cat({Hex("96 08 02 03 e8 00 48 00 69 00 96 01 ea 84 a3")}));
  EXPECT_EQ(c.Text(c.header.pszSubject), "Hi");
  // A UTF-8 subject cut inside its last character keeps the rest whole.
  Decoded d(Hex("96 05 ea d0 98 d0 00 84 a3"));
  EXPECT_EQ(d.Text(d.header.pszSubject), "\xd0\x98\xef\xbf\xbd");
}

// A Subject of 96 01 EA repeated: each is refused in its three bytes, so
// twice the input examines at most about twice the bytes.
TEST(HeaderDecoder, CraftedSubjectsTakeLinearWork) {
  if (!kCountsExamined) {
    GTEST_SKIP() << "a release build counts no examined bytes";
  }
  auto examined = [](size_t repeats) {
    Bytes pdu;
    for (size_t i = 0; i < repeats; ++i) {
      pdu.insert(pdu.end(), {0x96, 0x01, 0xEA});
    }
    pdu.insert(pdu.end(), {0x84, 0xA3, 0x00});
    ByteReader r(pdu.data(), pdu.size());
    uint64_t count = 0;
    MMS_Header header{};
    MMS_Custom_Data message;
    HeaderInfo info;
    {
      CountExamined counting(&count);
      EXPECT_EQ(DecodeHeader(r, &header, &message, &info), 0);
    }
    FreeMmsHeader(&header);
    return count;
  };
  const uint64_t small = examined(20000);
  const uint64_t large = examined(40000);
  EXPECT_GT(small, 60000u);
  EXPECT_LE(large, small * 5 / 2);
}

TEST(HeaderDecoder, NullArgumentsAreRefused) {
  MMS_Header header{};
  MMS_Custom_Data message;
  const Bytes pdu = Hex("84 a3");
  EXPECT_EQ(DecodeMmsHeaderBounded(&header, nullptr, 2, &message, nullptr), -1);
  EXPECT_EQ(DecodeMmsHeaderBounded(&header, pdu.data(), 2, nullptr, nullptr),
            -1);
}

TEST(HeaderDecoder, LegacyByteHelpers) {
  CMMS mms;
  // The UTF-8 decoding itself is Utf8ToWide's (model tests).
  unsigned char utf8[] = {0xC3, 0xA9, 0xE4, 0xB8, 0xAD};
  wchar_t* wide = MmsTestAccess::ConvertByteToUTF8(mms, utf8, sizeof(utf8));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"\u00e9\u4e2d"));
  LocalFree(wide);
  unsigned char bad[] = {0xC3, 0x41};
  EXPECT_EQ(MmsTestAccess::ConvertByteToUTF8(mms, bad, 2), nullptr);

  unsigned char small[] = {0x1A, 0x03};
  EXPECT_EQ(MmsTestAccess::ConvertLengthToInt(mms, small), 26);
  unsigned char two[] = {0x81, 0x00};
  EXPECT_EQ(MmsTestAccess::ConvertLengthToInt(mms, two), 128);
  unsigned char folded[] = {0x01, 0x51, 0x80, 0x00};
  EXPECT_EQ(MmsTestAccess::ConvertLengthToLong(mms, folded), 86400);
  unsigned char zero[] = {0x00};
  EXPECT_EQ(MmsTestAccess::ConvertLengthToLong(mms, zero), 0);
}

}  // namespace
}  // namespace mms::codec
