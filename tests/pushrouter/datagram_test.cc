// datagram_test.cc: connectionless WSP Push PDUs as the router reads them
// off the wire, and as mmsctl push writes them.
#include <gtest/gtest.h>

#include <memory>

#include "pushrouter/push_datagram.h"
#include "support/test_support.h"

namespace mms::pushrouter {
namespace {

using mms::testing::Bytes;
using mms::testing::Hex;
using mms::testing::ToHex;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// m-notification-ind body shared by the cases: type, transaction ID.
const Bytes kBody = Hex("8c 82 98 41 00");

DatagramError Parse(const Bytes& bytes, PushDatagram* push) {
  return ParsePushDatagram(bytes.data(), bytes.size(), push);
}

TEST(PushDatagram, ReadsEachFormOfTheContentType) {
  struct Case {
    const char* name;
    Bytes datagram;
    std::string content_type;
    int code;
    Bytes headers;
  };
  const Case cases[] = {
      {"well-known code 0xBE",
       Hex("01 06 03 be af 84") + kBody,  // tid, Push, len 3, type, header
       kMmsMessageType, 0x3E, Hex("af 84")},
      {"text",
       Hex("02 06 20") + Bytes(kMmsMessageType, kMmsMessageType + 31) +
           Hex("00") + kBody,
       kMmsMessageType,
       -1,
       {}},
      {"general form with a parameter",
       Hex("03 06 05 03 be 81 ea 99") + kBody,  // Value-length 3, charset
       kMmsMessageType, 0x3E, Hex("99")},
      {"unknown well-known code", Hex("04 06 01 83") + kBody, "", 0x03, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PushDatagram push;
    ASSERT_EQ(DatagramError::kNone, Parse(c.datagram, &push));
    EXPECT_EQ(c.datagram[0], push.transaction_id);
    EXPECT_EQ(c.content_type, push.content_type);
    EXPECT_EQ(c.code, push.well_known_code);
    EXPECT_EQ(ToHex(c.headers),
              ToHex(Bytes(push.headers, push.headers + push.headers_size)));
    EXPECT_EQ(ToHex(kBody),
              ToHex(Bytes(push.body, push.body + push.body_size)));
  }
}

TEST(PushDatagram, RefusesMalformedDatagrams) {
  struct Case {
    const char* name;
    Bytes datagram;
    DatagramError error;
  };
  const Case cases[] = {
      {"empty", {}, DatagramError::kTruncated},
      {"no PDU type", Hex("01"), DatagramError::kTruncated},
      {"no headers length", Hex("01 06"), DatagramError::kTruncated},
      {"length ends inside", Hex("01 06 81"), DatagramError::kTruncated},
      {"ConfirmedPush", Hex("01 07 01 be") + kBody, DatagramError::kNotPush},
      {"headers past the end", Hex("01 06 09 be af 84"),
       DatagramError::kHeadersPastEnd},
      {"headers length of 2^32", Hex("01 06 8f ff ff ff 7f be"),
       DatagramError::kHeadersPastEnd},
      {"no content type", Hex("01 06 00") + kBody,
       DatagramError::kBadContentType},
      {"text without its zero", Hex("01 06 03 61 62 63") + kBody,
       DatagramError::kBadContentType},
      {"value length past the headers", Hex("01 06 02 05 be") + kBody,
       DatagramError::kBadContentType},
      {"oversized", Bytes(kMaxPushDatagram + 1, 0x06),
       DatagramError::kOversized},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PushDatagram push;
    EXPECT_EQ(c.error, Parse(c.datagram, &push));
  }
}

TEST(PushDatagram, TellsPushFilesFromBareMmsPdus) {
  EXPECT_EQ(PushFileKind::kPushPdu, ClassifyPushFile(Hex("01 06 01 be")));
  // A Push PDU whose transaction ID happens to be 0x8C.
  EXPECT_EQ(PushFileKind::kPushPdu, ClassifyPushFile(Hex("8c 06 01 be")));
  EXPECT_EQ(PushFileKind::kMmsPdu, ClassifyPushFile(kBody));
  EXPECT_EQ(PushFileKind::kUnknown, ClassifyPushFile(Hex("00 01 02")));
  EXPECT_EQ(PushFileKind::kUnknown, ClassifyPushFile({}));
}

}  // namespace
}  // namespace mms::pushrouter
