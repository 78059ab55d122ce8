// acknowledge_test.cc: the transaction ID read back from a stored message
// file (the acknowledgement's bytes are checked on the wire by the entry
// tests).
#include <string>

#include "send_fixture.h"

namespace mms::testing {
namespace {

// The ID found in the file at path, or "<null>".
std::string Lookup(const std::wstring& path) {
  CMMS mms;
  unsigned char* id = mms.GetMMSTranscationID(WBuf(path));
  std::string text = id == nullptr ? "<null>" : reinterpret_cast<char*>(id);
  LocalFree(id);
  return text;
}

using TransactionId = SendTest;

TEST_F(TransactionId, TheLaterIdOfAWholeHeaderOrNull) {
  Bytes own;
  ASSERT_TRUE(Encode(NewMessage().get(), &own));
  const struct {
    Bytes pdu;
    std::string id;
  } kCases[] = {
      {own, std::string(kFixedSeconds) + "13800000001"},
      {Hex("8c 84 98 41 31 00 8d 90 98 42 32 00 84 a3 00"), "B2"},
      {Hex("8c 84 8d 90 84 a3 00"), "<null>"},
      {{}, "<null>"},
      // A header cut before its Content-Type is not trusted.
      {Hex("8c 84 98 41 31 00 8d"), "<null>"},
  };
  for (const auto& c : kCases) {
    WriteHostFile(Host(L"\\Windows\\Messaging\\in.mms"), c.pdu);
    EXPECT_EQ(Lookup(L"\\Windows\\Messaging\\in.mms"), c.id);
  }
  // A missing file is created empty, as the phone's open does.
  EXPECT_EQ(Lookup(L"\\Windows\\Messaging\\none.mms"), "<null>");
  EXPECT_TRUE(HostFileExists(Host(L"\\Windows\\Messaging\\none.mms")));
}

}  // namespace
}  // namespace mms::testing
