// wap_push_test.cc: push bodies, held as hex, decoded into WapPush_Message.
#include "push/wap_push.h"

#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "platform/winapi.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

// Bodies are laid out one field per line with a comment, as on the wire.
// clang-format off
namespace {

using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::Hex;

using Record = std::unique_ptr<WapPush_Message, void (*)(WapPush_Message*)>;

// Decodes a heap copy of exactly the body, so a read past it is caught.
Record Decode(const Bytes& body) {
  std::unique_ptr<BYTE[]> copy(new BYTE[body.size() + 1]);
  if (!body.empty()) {
    std::memcpy(copy.get(), body.data(), body.size());
  }
  PUSHMSG push = {};
  push.cbSize = sizeof(push);
  push.pbBody = body.empty() ? nullptr : copy.get();
  push.cbBody = static_cast<DWORD>(body.size());
  CMMS mms;
  return Record(MmsTestAccess::DecodeWapPush(mms, &push),
                mms::push::FreeWapPushMessage);
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// An m-notification-ind as an MMS centre sends it.
Bytes Notification() {
  return Cat({
      Hex("8c 82"),                         // X-Mms-Message-Type: notification
      Hex("98"), Text("T1"), Hex("00"),     // X-Mms-Transaction-Id
      Hex("8d 90"),                         // X-Mms-MMS-Version 1.0
      Hex("89 1a 80"),                      // From: 26 bytes, address present
      Text("+8613912345678/TYPE=PLMN"), Hex("00"),
      Hex("8a 80"),                         // X-Mms-Message-Class: personal
      Hex("8e 02 75 30"),                   // X-Mms-Message-Size: 30000
      Hex("88 05 81 03 01 51 80"),          // X-Mms-Expiry: relative 86400 s
      Hex("83"), Text("http://192.0.2.172/mms/a1"), Hex("00"),
  });
}

TEST(WapPushDecode, NotificationFieldsArriveAsSent) {
  Record m = Decode(Notification());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->nMsgType, 130);
  EXPECT_STREQ(m->pszTransactionId, "T1");
  EXPECT_EQ(m->nMmsVersion, 0x90);
  EXPECT_STREQ(m->pszFrom, "+8613912345678");
  EXPECT_EQ(m->nMsgClass, 0x80);
  EXPECT_EQ(m->nMsgSize, 30000u);
  EXPECT_STREQ(reinterpret_cast<char*>(m->pExpiry), "\x81\x03\x01\x51\x80");
  EXPECT_STREQ(m->pszContentLocation, "http://192.0.2.172/mms/a1");
  EXPECT_EQ(m->pszTo, nullptr);
  EXPECT_EQ(m->pDate, nullptr);
}

TEST(WapPushDecode, EveryTruncationStaysInsideTheBody) {
  const Bytes whole = Notification();
  for (size_t n = 0; n < whole.size(); ++n) {
    Record m = Decode(Bytes(whole.begin(), whole.begin() + n));
    ASSERT_NE(m, nullptr) << n;
    const WapPush_Message zero = {};  // an empty body gives all zeros
    EXPECT_TRUE(n > 0 || std::memcmp(m.get(), &zero, sizeof(zero)) == 0);
    if (m->pszFrom != nullptr) {
      EXPECT_STREQ(m->pszFrom, "+8613912345678") << n;
    }
  }
}

TEST(WapPushDecode, DateOctetsBecomeLocalTimeOfThoseSeconds) {
  // 0x49AF7100 = 1236234496 s = 2009-03-05 06:28:16 UTC; the zero octet
  // counts like any other.
  Record m = Decode(Hex("8c 86 85 04 49 af 71 00 95 81"));
  ASSERT_NE(m, nullptr);
  ASSERT_NE(m->pDate, nullptr);
  const uint64_t units = 116444736000000000ULL + 1236234496ULL * 10000000ULL;
  FILETIME utc = {static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
  FILETIME local;
  SYSTEMTIME expected;
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  ASSERT_TRUE(FileTimeToSystemTime(&local, &expected));
  auto fields = [](const SYSTEMTIME& t) {
    return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                           t.wSecond);
  };
  EXPECT_EQ(fields(*m->pDate), fields(expected));
  EXPECT_EQ(m->nStatus, 129);  // the field after the date is read too
}

TEST(WapPushDecode, TextEndsAtZeroOrBeforeAByteAbove0x80AndLaterFieldsWin) {
  // Content-Location without its zero: 0x84 is the next field code
  // (Content-Type, not ours), 0x8C the message type. 0x80 inside a text
  // is kept.
  Record m = Decode(Cat({Hex("83"), Text("http://x/1"), Hex("8c 84"),
                          Hex("8b 61 80 62 00")}));
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(m->pszContentLocation, "http://x/1");
  EXPECT_EQ(m->nMsgType, 0x84);
  EXPECT_STREQ(m->pszMessageId, "a\x80" "b");

  // A later occurrence of a field wins.
  m = Decode(Cat({Hex("98"), Text("first"), Hex("00 98"), Text("second"),
                  Hex("00 8c 80 8c 81")}));
  EXPECT_STREQ(m->pszTransactionId, "second");
  EXPECT_EQ(m->nMsgType, 129);
}

TEST(WapPushDecode, SubjectWithAndWithoutCharset) {
  Record tagged = Decode(Cat({Hex("96 0b ea"), Text("Greetings"), Hex("00")}));
  EXPECT_STREQ(tagged->pszSubject, "Greetings");

  // Length quote: the byte after 0x1F is the length.
  Record quoted =
      Decode(Cat({Hex("96 1f 0b ea"), Text("Greetings"), Hex("00 8c 82")}));
  EXPECT_STREQ(quoted->pszSubject, "Greetings");
  EXPECT_EQ(quoted->nMsgType, 130);

  // Plain text runs to its zero, bytes above 0x80 included.
  Record plain = Decode(Cat({Hex("96"), Text("Hi \xc3\xa9t\xc3\xa9"),
                              Hex("00 8c 86")}));
  EXPECT_STREQ(plain->pszSubject, "Hi \xc3\xa9t\xc3\xa9");
  EXPECT_EQ(plain->nMsgType, 134);
}

// Fields the decoder does not use are stepped over by the form of their
// value: a URL inside one is never published. Texts in a charset arrive
// converted; a location of 259 bytes arrives whole.
TEST(WapPushDecode, UnknownFieldsAreSteppedOverWhole) {
  const std::string url(259, 'h');
  const Bytes body = Cat({
      Hex("8c 82"),
      Hex("b5 0b"), Text("\x83http://x/"), Hex("00"),  // a field of MMS 1.2
      Text("X-Note"), Hex("00"), Text("\x83http://y/"), Hex("00"),
      Hex("83"), Text(url), Hex("00"),
      Hex("96 07 83"), Text("Hello"), Hex("00"),
      Hex("89 08 80 06 83"), Text("+441"), Hex("00"),
  });
  Record m = Decode(body);
  ASSERT_NE(m, nullptr);
  ASSERT_NE(m->pszContentLocation, nullptr);
  EXPECT_EQ(std::string(m->pszContentLocation), url);
  EXPECT_STREQ(m->pszSubject, "Hello");
  EXPECT_STREQ(m->pszFrom, "+441");
}

TEST(WapPushDecode, OverlongValuesAreCutOrSkippedNeverOverrun) {
  const std::string url260(260, 'u');
  const std::string id64(64, 'i');
  const std::string subject300(300, 's');
  const Bytes body = Cat({
      Hex("83"), Text(url260), Hex("00"),       // location: skipped
      Hex("98"), Text(id64), Hex("00"),         // transaction ID: skipped
      Hex("96"), Text(subject300), Hex("00"),   // subject: cut to 255
      Hex("93 64"), Text(std::string(100, 'r')),  // response text: cut to 63
      Hex("89 22 80"), Text(std::string(32, '1')), Hex("00"),  // number > 31
      Hex("97"), Text(std::string(40, '2') + "/TYPE=PLMN"), Hex("00"),
      Hex("8c 86"),
  });
  Record m = Decode(body);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->pszContentLocation, nullptr);
  EXPECT_EQ(m->pszTransactionId, nullptr);
  EXPECT_EQ(std::string(m->pszSubject), std::string(255, 's'));
  EXPECT_EQ(std::string(m->pszResponseText), std::string(63, 'r'));
  EXPECT_EQ(m->pszFrom, nullptr);
  EXPECT_EQ(m->pszTo, nullptr);
  EXPECT_EQ(m->nMsgType, 134);  // the scan went on after each of them

  // At the limit the values are kept whole; a cut subject keeps whole
  // UTF-8 characters (a two-byte one would straddle byte 255).
  Record fits = Decode(Cat({Hex("83"), Text(std::string(63, 'u')),
                             Hex("00 89 21 80"), Text(std::string(31, '1')),
                             Hex("00 96"), Text(std::string(254, 'a') + "\xc3\xa9"),
                             Hex("00")}));
  EXPECT_EQ(std::string(fits->pszContentLocation), std::string(63, 'u'));
  EXPECT_EQ(std::string(fits->pszFrom), std::string(31, '1'));
  EXPECT_EQ(std::string(fits->pszSubject), std::string(254, 'a'));
}

TEST(WapPushDecode, MessageSizeFoldsOctetsAndLengthsPastTheEndDropFields) {
  EXPECT_EQ(Decode(Hex("8e 02 75 30"))->nMsgSize, 30000u);
  // Only the last four octets count.
  EXPECT_EQ(Decode(Hex("8e 05 ff 01 02 03 04"))->nMsgSize, 0x01020304u);
  // A signed length of 0x80 or more is 0: nothing read, then 0x8C is a code.
  Record m = Decode(Hex("8e 85 8c 82"));
  EXPECT_EQ(m->nMsgSize, 0u);
  EXPECT_EQ(m->nMsgType, 130);
  // A length past the end drops the field and ends the scan.
  Record from = Decode(Hex("8c 82 89 20 80 31"));  // From says 32 bytes
  EXPECT_EQ(from->nMsgType, 130);
  EXPECT_EQ(from->pszFrom, nullptr);
  EXPECT_EQ(Decode(Hex("8e 04 75"))->nMsgSize, 0u);
  EXPECT_EQ(Decode(Hex("85 04 49 af"))->pDate, nullptr);
  EXPECT_EQ(Decode(Hex("96 0b ea 41 42"))->pszSubject, nullptr);
  EXPECT_EQ(Decode(Hex("88"))->pExpiry, nullptr);
}

TEST(CutAddressType, CopiesUpToTheFirstSlash) {
  char out[260];
  char typed[] = "+8613912345678/TYPE=PLMN";
  EXPECT_EQ(CutAddressType(typed, out), 1);
  EXPECT_STREQ(out, "+8613912345678");
}

}  // namespace
// clang-format on
