// acknowledge_test.cc: the transaction ID read back from a stored message
// file (the acknowledgement's bytes are checked on the wire by the entry
// tests).
#include <cstring>
#include <string>

#include "platform/test_seams.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

namespace {

using mms::testing::Bytes;
using mms::testing::DeviceTest;
using mms::testing::Hex;
using mms::testing::WBuf;

class TransactionId : public DeviceTest {
 protected:
  // The ID found in the file holding pdu, or "<null>".
  std::string Lookup(const Bytes& pdu) {
    mms::testing::WriteHostFile(Host(L"\\Windows\\Messaging\\in.mms"), pdu);
    return LookupPath(L"\\Windows\\Messaging\\in.mms");
  }
  std::string LookupPath(const std::wstring& path) {
    CMMS mms;
    unsigned char* id = mms.GetMMSTranscationID(WBuf(path));
    if (id == nullptr) {
      return "<null>";
    }
    std::string text(reinterpret_cast<char*>(id));
    LocalFree(id);
    return text;
  }
};

TEST_F(TransactionId, StoredSendRequestGivesItsOwnId) {
  mms::platform::test::FixClock(SYSTEMTIME{2009, 3, 4, 5, 6, 28, 16, 0});
  MMS_Option option = {};
  MMS_Custom_Data message(0, &option);
  ASSERT_EQ(message.SetPhoneNumber(WBuf(L"+8613800000001")), 1);
  auto* smil = static_cast<char*>(LocalAlloc(LPTR, 8));
  std::memcpy(smil, "<smil/>", 7);
  ASSERT_EQ(message.SetSimlContent(smil), 1);
  CMMS mms;
  int length = 0;
  unsigned char* pdu = MmsTestAccess::MakeSendData(mms, &message, &length);
  ASSERT_NE(pdu, nullptr);
  const Bytes bytes(pdu, pdu + length);
  LocalFree(pdu);
  // 8C 80 98 <id> 00: the ID the encoder chose.
  ASSERT_EQ(Bytes(bytes.begin(), bytes.begin() + 3), Hex("8c 80 98"));
  const std::string id(reinterpret_cast<const char*>(bytes.data() + 3));
  EXPECT_EQ(id, "123623449613800000001");  // seconds, then the number
  EXPECT_EQ(Lookup(bytes), id);
}

TEST_F(TransactionId, LaterOfTwoIdsWins) {
  EXPECT_EQ(Lookup(Hex("8c 84 98 41 31 00 8d 90 98 42 32 00 84 a3 00")), "B2");
}

TEST_F(TransactionId, NoIdOrNothingToReadGivesNull) {
  EXPECT_EQ(Lookup(Hex("8c 84 8d 90 84 a3 00")), "<null>");
  EXPECT_EQ(Lookup({}), "<null>");
  // A header cut before its Content-Type is not trusted.
  EXPECT_EQ(Lookup(Hex("8c 84 98 41 31 00 8d")), "<null>");
  // A missing file is created empty, as the phone's open does.
  EXPECT_EQ(LookupPath(L"\\Windows\\Messaging\\none.mms"), "<null>");
  EXPECT_TRUE(
      mms::testing::HostFileExists(Host(L"\\Windows\\Messaging\\none.mms")));
}

}  // namespace
