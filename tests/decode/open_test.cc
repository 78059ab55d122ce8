// open_test.cc: CMMS::MMS_Open on files that are no message, on a message
// naming its presentation, and on hostile variants of a corpus sample (what the
// corpus samples hold is checked against tshark in corpus_tshark_test.cc).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "decode/pdu_builder.h"
#include "mms.h"
#include "support/test_support.h"

namespace mms::client {
namespace {

using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::DeviceTest;
using mms::testing::Entry;
using mms::testing::Hex;
using mms::testing::Raw;
using mms::testing::ReadHostFile;
using mms::testing::Str;
using mms::testing::WBuf;
using mms::testing::WriteHostFile;

std::string FileName(MMS_Custom_Data& m, int index) {
  char name[260] = {};
  return m.GetFileName(index, name) == 1 ? name : "<none>";
}

std::wstring SlideFile(MMS_Custom_Data& m, int slide, int file) {
  wchar_t name[260] = {};
  return m.GetPartFileName(slide, file, name) == 1 ? name : L"<none>";
}

class OpenMessage : public DeviceTest {
 protected:
  int Open(const Bytes& bytes, MMS_Custom_Data* message) {
    WriteHostFile(Host(L"\\Windows\\Messaging\\in.mms"), bytes);
    return CMMS::MMS_Open(WBuf(L"\\Windows\\Messaging\\in.mms"), message);
  }
};

TEST_F(OpenMessage, FileErrorsAndNonPdus) {
  MMS_Custom_Data m;
  EXPECT_EQ(CMMS::MMS_Open(WBuf(L"\\Windows\\Messaging\\none.mms"), &m), -1);
  EXPECT_EQ(CMMS::MMS_Open(nullptr, &m), -1);
  EXPECT_EQ(Open(Raw("This is not a PDU"), &m), 0);
  EXPECT_EQ(m.m_nFileNum, 0);
}

// The presentation the Start parameter names (not the first file whose
// name holds "smil"), "cid:" sources, and media straight in the body.
TEST_F(OpenMessage, SlidesComeFromThePresentationTheMessageNames) {
  const Bytes pdu = Cat(
      {Hex("8c 84 84 1b b3 8a"), Str("<pres>"), Hex("89"),
       Str("application/smil"), Hex("03"),
       Entry(Cat({Hex("9e 8e"), Str("smile.jpg")}), Raw("decoy")),
       Entry(Cat({Str("application/smil"), Hex("c0 22"), Str("<pres>")}),
             Raw("<smil><body><img src=\"cid:i1\"/><par dur=\"2s\"><text "
                 "src=\"t.txt\"/></par></body></smil>")),
       Entry(Cat({Hex("9e c0 22"), Str("<i1>"), Hex("8e"), Str("photo.jpg")}),
             Raw("jpeg"))});
  MMS_Custom_Data m;
  ASSERT_EQ(Open(pdu, &m), 0);
  ASSERT_EQ(m.m_nFileNum, 3);
  EXPECT_EQ(FileName(m, 1), "\\temp\\mmsdecode\\pres.smil");
  ASSERT_EQ(m.m_nPartNum, 2);
  EXPECT_EQ(SlideFile(m, 0, 0), L"\\temp\\mmsdecode\\photo.jpg");
  EXPECT_EQ(SlideFile(m, 1, 0), L"\\temp\\mmsdecode\\t.txt");
  EXPECT_EQ(m.m_pSmilPart[1]->m_nPartTime, 2000);
}

class CorpusOpen : public OpenMessage {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(mms::testing::CorpusDir())) {
      GTEST_SKIP() << "no corpus at " << mms::testing::CorpusDir();
    }
  }
};

// Cut at every length, every byte raised to 0xFF or flipped: each variant
// opens (result 0, or -1 for the empty cut) with no sanitizer report.
TEST_F(CorpusOpen, HostileVariantsOfAShortSample) {
  const Bytes sample =
      ReadHostFile(mms::testing::CorpusDir() + "/mmsd/rc-mms-1-3-con-212.mms");
  ASSERT_FALSE(sample.empty());
  for (size_t n = 0; n < sample.size(); ++n) {
    MMS_Custom_Data m;
    EXPECT_EQ(Open(Bytes(sample.begin(), sample.begin() + n), &m),
              n == 0 ? -1 : 0);
  }
  for (size_t i = 0; i < sample.size(); ++i) {
    for (uint8_t change : {0xFF, 0x00}) {
      Bytes raised = sample;
      raised[i] = change == 0xFF ? 0xFF : static_cast<uint8_t>(~raised[i]);
      MMS_Custom_Data m;
      EXPECT_EQ(Open(raised, &m), 0) << i;
    }
  }
}

}  // namespace
}  // namespace mms::client
