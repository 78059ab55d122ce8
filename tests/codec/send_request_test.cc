// send_request_test.cc: the m-send-req header block field by field, and
// the refusals of the whole PDU.
#include "codec/send_request.h"

#include <gtest/gtest.h>

#include <string>

#include "send_fixture.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::Hex;
using mms::testing::kFixedSeconds;
using mms::testing::Text;
using mms::testing::WBuf;

// Fields 1 to 5 at the fixed clock, for a recipient whose ID tail is given.
Bytes Head(const std::string& id_tail = "13800000001") {
  return Cat({Hex("8c 80"),                              // m-send-req
              Hex("98"), Text(kFixedSeconds + id_tail),  // Transaction-Id
              Hex("8d 90"),                              // version 1.0
              Hex("85 04 49 bf 5f 8d"),                  // Date: same seconds
              Hex("89 01 81")});                         // From: insert
}

const Bytes kTo = Cat({Hex("97"), Text("+8613800000001/TYPE=PLMN")});
const Bytes kContentType = Cat({Hex("84 1d b3"),  // Value-length 29, related
                                Hex("89"), Text("application/smil"),  // Type
                                Hex("8a"), Text("<CMSMMS>")});        // Start

class SendRequest : public mms::testing::SendTest {
 protected:
  static Bytes Header(MMS_Custom_Data* message) {
    MMS_Header header = {};
    unsigned char* block = MakeSendHeader(&header, message);
    if (block == nullptr) {
      return {};
    }
    Bytes bytes(block, block + header.nHeaderLength);
    LocalFree(block);
    return bytes;
  }
  static Bytes WithOption(const MMS_Option& option) {
    MMS_Option copy = option;
    MMS_Custom_Data message(0, &copy);
    message.SetPhoneNumber(WBuf(L"13800000001"));
    return Header(&message);
  }
};

TEST_F(SendRequest, OptionsInOrderAndTheirFallbacks) {
  EXPECT_EQ(WithOption({2, 24, 1, 0, 2, 1, 1, 1, 0}),
            Cat({Head(), kTo,
                 Hex("8a 82"),                 // Informational
                 Hex("88 05 81 03 01 51 80"),  // Expiry 86400 s, relative
                 Hex("87 04 81 02 0e 10"),     // Delivery-Time 3600 s
                 Hex("8f 82"),                 // High
                 Hex("94 80 86 80 90 80"),     // Hide, both reports Yes
                 kContentType}));
  const struct {
    MMS_Option option;
    const char* field;
  } cases[] = {
      {{0, 0, 0, 0, 1, 0, 0, 0, 0}, "8a 81"},
      {{0, 0, 0, 0, 3, 0, 0, 0, 0}, "8a 83"},
      {{1, 0, 0, 0, 0, 0, 0, 0, 0}, "8f 80"},  // Low
      {{0, 0, 2, 0, 0, 0, 0, 0, 0}, "87 05 81 03 01 51 80"},
      {{0, 0, 0, 9, 0, 0, 0, 0, 9}, ""},  // reserved fields unread
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithOption(c.option),
              Cat({Head(), kTo, Hex(c.field), kContentType}))
        << c.field;
  }
}

TEST_F(SendRequest, SubjectAndCcFields) {
  auto message = NewMessage();
  // 28 bytes: one length byte 30. 29 bytes: Length-quote 31, 31.
  ASSERT_EQ(message->SetSubject(WBuf(std::wstring(28, L's'))), 1);
  EXPECT_EQ(Header(message.get()),
            Cat({Head(), kTo, Hex("96 1e ea"), Text(std::string(28, 's')),
                 kContentType}));
  ASSERT_EQ(message->SetSubject(WBuf(std::wstring(29, L's'))), 1);
  EXPECT_EQ(Header(message.get()),
            Cat({Head(), kTo, Hex("96 1f 1f ea"), Text(std::string(29, 's')),
                 kContentType}));
  ASSERT_EQ(message->SetSubject(WBuf(L"\u4e2d\u6587")), 1);
  const Bytes subject = Hex("96 09 ea 7f e4 b8 ad e6 96 87 00");

  message->AddCcName(WBuf(L"13900000002"));
  message->AddCcName(WBuf(L"+8613700000003"));
  EXPECT_EQ(Header(message.get()),  // no count declared: no Cc
            Cat({Head(), kTo, subject, kContentType}));
  message->SetCcNumber(3);  // one more than added: sent empty
  EXPECT_EQ(Header(message.get()),
            Cat({Head(), kTo, Hex("82"), Text("+8613900000002/TYPE=PLMN"),
                 Hex("82"), Text("+8613700000003/TYPE=PLMN"), Hex("82 00"),
                 subject, kContentType}));
}

TEST_F(SendRequest, TransactionIdFromSecondsAndRecipient) {
  auto message = NewMessage(MMS_Option{}, L"");
  EXPECT_EQ(Header(message.get()), Cat({Head(""), kContentType}));
  std::strcpy(message->m_szPhoneNumber, "+86");  // nothing after the prefix
  EXPECT_EQ(Header(message.get()),
            Cat({Head(""), Hex("97"), Text("+86/TYPE=PLMN"), kContentType}));
  // The longest recipient is kept whole.
  const std::string number(259, '1');
  std::strcpy(message->m_szPhoneNumber, number.c_str());
  const Bytes id = Cat({Hex("98"), Text(kFixedSeconds + number.substr(3))});
  const Bytes header = Header(message.get());
  ASSERT_GT(header.size(), 2 + id.size());
  EXPECT_EQ(Bytes(header.begin() + 2, header.begin() + 2 + id.size()), id);
  // A clock that does not convert gives 0 seconds in both places.
  mms::platform::test::FixClock(SYSTEMTIME{2009, 13, 0, 40, 0, 0, 0, 0});
  std::strcpy(message->m_szPhoneNumber, "+8613800000001");
  const Bytes start =
      Cat({Hex("8c 80 98"), Text("013800000001"), Hex("8d 90 85 01 00")});
  const Bytes zero = Header(message.get());
  EXPECT_EQ(Bytes(zero.begin(), zero.begin() + start.size()), start);
}

TEST_F(SendRequest, RefusesWhatItCannotEncodeWhole) {
  Bytes pdu;
  auto no_option = NewMessage();
  LocalFree(no_option->m_pOption);
  no_option->m_pOption = nullptr;
  EXPECT_FALSE(Encode(no_option.get(), &pdu));
  EXPECT_TRUE(Header(no_option.get()).empty());
  EXPECT_FALSE(Encode(NewMessage(MMS_Option{}, L"1", nullptr).get(), &pdu));

  auto missing = NewMessage();
  AddFile(missing.get(), PutFile(L"a.jpg", "J"));
  AddFile(missing.get(), L"\\Temp\\lost.gif");
  EXPECT_FALSE(Encode(missing.get(), &pdu));
  auto unnamed = NewMessage();
  AddFile(unnamed.get(), L"");  // counted, but its entry is empty
  EXPECT_FALSE(Encode(unnamed.get(), &pdu));
  auto flood = NewMessage();  // an absurd Cc count passes the header cap
  flood->SetCcNumber(1 << 20);
  EXPECT_FALSE(Encode(flood.get(), &pdu));
}

}  // namespace
}  // namespace mms::codec
