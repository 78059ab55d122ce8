// smil_parser_test.cc: CSmil and the slides RecivedToParseSmil builds from a
// received SMIL file.
#include <gtest/gtest.h>

#include <string>

#include "mms.h"
#include "smil/parser.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

namespace mms::smil {

// The document the SMIL writer makes (writer_test.cc).
extern const char kWriterDocument[];

namespace {

using mms::testing::DeviceTest;
using mms::testing::WBuf;
using mms::testing::WriteHostFile;

std::wstring SlideFile(MMS_Custom_Data& m, int slide, int file) {
  wchar_t name[260] = {};
  if (m.GetPartFileName(slide, file, name) != 1) {
    return L"<none>";
  }
  return name;
}

// Slides of text, through the scanner and ParseSmilToData.
class SlidesOf {
 public:
  explicit SlidesOf(std::string text) : text_(std::move(text)) {
    CSmil smil(text_.data());
    smil.Parse();
    par_num = smil.m_nParNum;
    first = smil.m_Par[0];
    region1 = smil.m_Region[1];
    EXPECT_EQ(MmsTestAccess::ParseSmilToData(&message, &smil), 1);
  }
  MMS_Custom_Data message;
  int par_num = 0;
  SmilPar first{};
  SmilRegion region1{};

 private:
  std::string text_;
};

TEST(SmilParser, DurationForms) {
  const struct {
    const char* par;
    int ms;
  } kCases[] = {
      {"<par dur=\"4000ms\">", 4000},
      {"<par dur=\"5s\">", 5000},
      {"<par dur=\"8\">", 8000},
      {"<par dur=\"1.5s\">", 1000},
      {"<par>", 30000},
      {"<par dur=\"250M\">", 250},
      {"<par dur=\"99999999999s\">", 2147483647},
  };
  for (const auto& c : kCases) {
    SlidesOf s(std::string("<smil><body>") + c.par + "</par></smil>");
    ASSERT_EQ(s.message.m_nPartNum, 1) << c.par;
    EXPECT_EQ(s.message.m_pSmilPart[0]->m_nPartTime, c.ms) << c.par;
  }
}

TEST(SmilParser, ScannerQuirksAreKept) {
  // The later of img and video wins; blanks before a name are skipped.
  SlidesOf later(
      "<smil><body>< par dur=\"2s\"><img src=\"a.jpg\"/>"
      "<video src=\"b.3gp\"/></par></body></smil>");
  EXPECT_EQ(later.message.m_nPartNum, 1);
  EXPECT_EQ(SlideFile(later.message, 0, 0), L"\\temp\\mmsdecode\\b.3gp");
  EXPECT_EQ(later.message.m_pSmilPart[0]->m_nPartTime, 2000);
  // Names compare case-sensitively, so "</PAR>" closes nothing.
  EXPECT_EQ(SlidesOf("<smil><par><img src=\"a.jpg\"/></PAR></smil>").par_num,
            0);
  EXPECT_EQ(SlidesOf("<smil><par><img src=\"a.jpg\"/></smil>").par_num, 0);
  // Text before the first tag, or a tag never closed, ends quietly.
  EXPECT_EQ(SlidesOf("no tags at all").par_num, 0);
  EXPECT_EQ(SlidesOf("<par></par><img src=\"x").par_num, 1);
  EXPECT_EQ(SlidesOf("").par_num, 0);
}

TEST(SmilParser, OversizedInputStaysInsideTheTables) {
  std::string many = "<smil><body>";
  for (int i = 0; i < 40; ++i) {
    many += "<par dur=\"" + std::to_string(i + 1) + "s\"><img src=\"p" +
            std::to_string(i) + ".jpg\"/></par>";
  }
  SlidesOf s(many + "</body></smil>");
  EXPECT_EQ(s.par_num, 32);
  EXPECT_EQ(s.message.m_nPartNum, 32);
  EXPECT_EQ(s.message.m_pSmilPart[31]->m_nPartTime, 32000);

  // A src past the 243 characters a part name can have is dropped rather
  // than cut, so no slide names a file that was never written; other
  // values are cut.
  const std::string long_src(244, 'x');
  SlidesOf l("<par dur=\"" + std::string(100, '7') + "ms\"><img src=\"" +
             long_src + "\"/><text src=\"t.txt\"/></par>" +
             "<root-layout width=\"" + std::string(300, '1') + "\"/>" +
             "<region id=\"a\"/><region id=\"" + std::string(90, 'r') + "\"/>");
  EXPECT_STREQ(l.first.szImage, "");
  EXPECT_STREQ(l.first.szText, "t.txt");
  EXPECT_EQ(std::string(l.first.szDur), std::string(63, '7'));
  EXPECT_EQ(std::string(l.region1.szId), std::string(63, 'r'));
  EXPECT_EQ(l.message.m_pSmilPart[0]->m_nFileNum, 1);
  EXPECT_EQ(l.message.m_nRootWidth, 2147483647);
}

TEST(SmilParser, SlideSourcesUseThePartFileNameMapping) {
  SlidesOf s(
      "<par><img src=\"../../evil.jpg\"/><audio src=\"CON\"/>"
      "<text src=\"a\\b.txt\"/></par>");
  EXPECT_EQ(SlideFile(s.message, 0, 0), L"\\temp\\mmsdecode\\.._.._evil.jpg");
  EXPECT_EQ(SlideFile(s.message, 0, 1), L"\\temp\\mmsdecode\\_CON");
  EXPECT_EQ(SlideFile(s.message, 0, 2), L"\\temp\\mmsdecode\\a_b.txt");
}

TEST(SmilParser, AttributeLookup) {
  CSmil smil(nullptr);
  const char tag[] = "img src=\"a.jpg\" region='Image' alt = \"x\"";
  auto value = [&](const char* element, const char* name) {
    char* found = smil.GetAttribute(tag, element, name);
    const std::string text = found == nullptr ? "<none>" : found;
    LocalFree(found);
    return text;
  };
  EXPECT_EQ(value("img", "src"), "a.jpg");
  // Only double quotes delimit: the single-quoted value is skipped and the
  // next double-quoted one is taken.
  EXPECT_EQ(value("img", "region"), "x");
  EXPECT_EQ(value("video", "src"), "<none>");
  EXPECT_EQ(value("img", "alt"), "x");
}

class ReceivedSmil : public DeviceTest {
 protected:
  void SetUp() override { ASSERT_EQ(CreateDeCodeFolder(), 1); }
  void AddFile(MMS_Custom_Data& m, const std::wstring& device,
               const std::string& bytes) {
    WriteHostFile(Host(device), bytes);
    m.AddFileNameToArray(WBuf(device));
  }
};

TEST_F(ReceivedSmil, FindsTheFirstPathContainingSmil) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.RecivedToParseSmil(), 0);  // no files

  AddFile(m, L"\\temp\\mmsdecode\\pic.jpg", "jpeg");
  EXPECT_EQ(m.RecivedToParseSmil(), 1);  // no SMIL file
  EXPECT_EQ(m.m_bSmilParsed, 0);
  EXPECT_EQ(m.m_nPartNum, 0);

  // "Smile.jpg" lowered contains "smil" and comes first: it is taken.
  MMS_Custom_Data smile;
  AddFile(smile, L"\\temp\\mmsdecode\\Smile.jpg", "not a document");
  AddFile(smile, L"\\temp\\mmsdecode\\cmms.smil", kWriterDocument);
  EXPECT_EQ(smile.RecivedToParseSmil(), 1);
  EXPECT_EQ(smile.m_bSmilParsed, 1);
  EXPECT_EQ(smile.m_nPartNum, 0);
  ASSERT_NE(smile.m_pSimlContent, nullptr);
  EXPECT_STREQ(smile.m_pSimlContent, "not a document");

  MMS_Custom_Data real;
  AddFile(real, L"\\temp\\mmsdecode\\pic.jpg", "jpeg");
  AddFile(real, L"\\temp\\mmsdecode\\CMMS.SMIL", kWriterDocument);
  EXPECT_EQ(real.RecivedToParseSmil(), 1);
  ASSERT_EQ(real.m_nPartNum, 2);
  EXPECT_EQ(SlideFile(real, 0, 0), L"\\temp\\mmsdecode\\pic.jpg");
  EXPECT_EQ(SlideFile(real, 0, 1), L"\\temp\\mmsdecode\\temptxt0.txt");
  EXPECT_EQ(SlideFile(real, 1, 0), L"\\temp\\mmsdecode\\song.amr");
  EXPECT_EQ(real.m_pSmilPart[1]->m_nPartTime, 30000);
  EXPECT_EQ(real.m_nRootWidth, 160);
  EXPECT_EQ(real.m_nRootHeight, 140);

  // A missing SMIL file is created empty and gives no slides.
  MMS_Custom_Data gone;
  gone.AddFileNameToArray(WBuf(L"\\temp\\mmsdecode\\gone.smil"));
  EXPECT_EQ(gone.RecivedToParseSmil(), 1);
  EXPECT_EQ(gone.m_nPartNum, 0);
  EXPECT_TRUE(
      mms::testing::HostFileExists(Host(L"\\temp\\mmsdecode\\gone.smil")));
}

}  // namespace
}  // namespace mms::smil
