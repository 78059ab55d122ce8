// send_fixture.h: composing messages for the encoder tests: files under a
// private device root, a fixed clock, and the PDU through MmsTestAccess.
#ifndef MMS_TESTS_CODEC_SEND_FIXTURE_H_
#define MMS_TESTS_CODEC_SEND_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "mms.h"
#include "platform/test_seams.h"
#include "platform/winapi.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

namespace mms::testing {

// 2009-03-17 08:30:05 UTC: 1237278605 seconds, 49 bf 5f 8d.
inline constexpr SYSTEMTIME kFixedUtc = {2009, 3, 2, 17, 8, 30, 5, 0};
inline constexpr char kFixedSeconds[] = "1237278605";

class SendTest : public DeviceTest {
 protected:
  void SetUp() override { mms::platform::test::FixClock(kFixedUtc); }

  // A file under "\Temp" with the given bytes; its device path.
  std::wstring PutFile(const std::wstring& name, const Bytes& bytes) {
    const std::wstring path = L"\\Temp\\" + name;
    WriteHostFile(Host(path), bytes);
    return path;
  }
  std::wstring PutFile(const std::wstring& name, const std::string& text) {
    return PutFile(name, Bytes(text.begin(), text.end()));
  }

  // A message with the given options (all zero when none are given), a
  // recipient and a SMIL text; files are added by the test.
  std::unique_ptr<MMS_Custom_Data> NewMessage(
      const MMS_Option& option = MMS_Option{},
      const std::wstring& to = L"13800000001", const char* smil = "<smil/>") {
    MMS_Option copy = option;
    auto message = std::make_unique<MMS_Custom_Data>(0, &copy);
    if (!to.empty()) {
      EXPECT_EQ(message->SetPhoneNumber(WBuf(to)), 1);
    }
    if (smil != nullptr) {
      const size_t n = std::strlen(smil);
      auto* block = static_cast<char*>(LocalAlloc(LPTR, n + 1));
      std::memcpy(block, smil, n);
      message->SetSimlContent(block);
    }
    return message;
  }

  void AddFile(MMS_Custom_Data* message, const std::wstring& path) {
    message->AddFileNameToArray(WBuf(path));
  }

  // The whole PDU, or an empty result when the encoder refused.
  static bool Encode(MMS_Custom_Data* message, Bytes* pdu) {
    CMMS mms;
    int length = -7;
    unsigned char* block = MmsTestAccess::MakeSendData(mms, message, &length);
    if (block == nullptr) {
      EXPECT_EQ(length, -7) << "length changed on failure";
      return false;
    }
    pdu->assign(block, block + length);
    LocalFree(block);
    return true;
  }
};

// Bytes of a text, with its terminating 0 when asked.
inline Bytes Text(const std::string& text, bool with_zero = true) {
  Bytes bytes(text.begin(), text.end());
  if (with_zero) {
    bytes.push_back(0);
  }
  return bytes;
}

}  // namespace mms::testing

#endif  // MMS_TESTS_CODEC_SEND_FIXTURE_H_
