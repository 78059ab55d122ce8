// acknowledge_test.cc: the transaction ID read back from a stored message
// file (the acknowledgement's bytes are checked on the wire by the entry
// tests).
#include <string>

#include "send_fixture.h"

namespace mms::testing {
namespace {

class TransactionId : public SendTest {
 protected:
  // The ID found in the file holding pdu, or "<null>".
  std::string Lookup(const Bytes& pdu) {
    WriteHostFile(Host(L"\\Windows\\Messaging\\in.mms"), pdu);
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
  Bytes pdu;
  ASSERT_TRUE(Encode(NewMessage().get(), &pdu));
  EXPECT_EQ(Lookup(pdu), std::string(kFixedSeconds) + "13800000001");
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
  EXPECT_TRUE(HostFileExists(Host(L"\\Windows\\Messaging\\none.mms")));
}

}  // namespace
}  // namespace mms::testing
