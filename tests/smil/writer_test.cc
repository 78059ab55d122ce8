// writer_test.cc: the SMIL document of an outgoing message, byte for byte.
#include <cstring>
#include <string>

#include "mms.h"
#include "support/test_support.h"

namespace mms::smil {

// What the writer makes for pic.jpg and a typed text on slide 0 and
// song.amr on slide 1 (the parser's tests read it back).
extern const char kWriterDocument[];
const char kWriterDocument[] =
    "<smil>\n<head>\n<layout>\n"
    "<root-layout width=\"160\" height=\"140\"/>\n"
    "<region id=\"Image\" width=\"160\" height=\"120\" left=\"0\" top=\"0\"/>\n"
    "<region id=\"Text\" width=\"160\" height=\"20\" left=\"0\" top=\"0\"/>\n"
    "</layout>\n</head>\n<body>\n"
    "<par dur=\"30000ms\">\n"
    "<img src=\"pic.jpg\" region=\"Image\" />\n"
    "<text src=\"temptxt0.txt\" region=\"Text\" />\n"
    "</par>\n"
    "<par dur=\"30000ms\">\n"
    "<audio src=\"song.amr\" />\n"
    "</par>\n"
    "</body>\n</smil>";

namespace {

using mms::testing::DeviceTest;
using mms::testing::WBuf;

class SmilWriterTest : public DeviceTest {
 protected:
  // The layout that saving and sending set.
  void SetUp() override {
    m_.m_nRootWidth = 160;
    m_.m_nRootHeight = 140;
    m_.m_nImageWidth = 160;
    m_.m_nImageHeight = 120;
    m_.m_nTextWidth = 160;
    m_.m_nTextHeight = 20;
    m_.m_nTextTop = 120;
  }
  void Add(int slide, const std::wstring& path) {
    ASSERT_EQ(1, m_.AddPartFileName(slide, WBuf(path)));
  }
  std::string Smil() {
    EXPECT_EQ(1, m_.SendToMakeSmil());
    return m_.m_pSimlContent == nullptr ? "(none)" : m_.m_pSimlContent;
  }
  // The body of the document between "<body>\n" and "</body>", after the
  // head of the sending layout.
  std::string Body() {
    const std::string smil = Smil();
    const size_t start = smil.find("<body>\n") + 7;
    const size_t end = smil.rfind("</body>\n</smil>");
    EXPECT_EQ(smil.substr(0, start),
              std::string(kWriterDocument).substr(0, start));
    EXPECT_EQ(smil.size() - 15, end);
    return smil.substr(start, end - start);
  }

  MMS_Custom_Data m_;
};

TEST_F(SmilWriterTest, PictureTextAndSoundOnTwoSlides) {
  Add(0, L"\\My Documents\\pic.jpg");
  ASSERT_EQ(1, m_.AddPartTxt(0, WBuf(L"hello"), 0));
  Add(1, L"\\My Documents\\song.amr");
  EXPECT_EQ(385u, std::strlen(kWriterDocument));
  EXPECT_EQ(kWriterDocument, Smil());
}

TEST_F(SmilWriterTest, NoSlidesGiveAnEmptyBodyAndRewritingReplaces) {
  EXPECT_EQ("", Body());
  // A second document releases the first (the leak checker would tell).
  m_.m_nTextWidth = 0;
  ASSERT_EQ(1, m_.AddPartTxt(0, WBuf(L"hi"), 0));
  const std::string smil = Smil();
  EXPECT_EQ(std::string::npos, smil.find("<region id=\"Text\""));
  EXPECT_NE(std::string::npos,
            smil.find("<text src=\"temptxt0.txt\" region=\"Text\" />\n"));
}

// Each slot takes the last file of its class; video is an image; names
// are lowered; slides holding only unreferenced files, and gaps, still get
// their par.
TEST_F(SmilWriterTest, SlotsClassesCaseAndGaps) {
  for (const wchar_t* path : {L"\\a.jpg", L"\\b.gif", L"\\x.mid", L"\\y.wav",
                              L"\\doc.pdf", L"\\noextension"}) {
    Add(0, path);
  }
  Add(1, L"\\My Documents\\CLIP.3GP");
  Add(2, L"\\My Documents\\PIC.JPG");
  Add(2, L"\\My Documents\\Tune.MP3");
  Add(3, L"\\doc.pdf");
  Add(5, L"\\song.amr");  // slide 4 is never made
  m_.m_pSmilPart[5]->SetPartTime(5000);
  EXPECT_EQ(nullptr, m_.m_pSmilPart[4]);
  EXPECT_EQ(
      "<par dur=\"30000ms\">\n"
      "<img src=\"b.gif\" region=\"Image\" />\n"
      "<audio src=\"y.wav\" />\n"
      "</par>\n"
      "<par dur=\"30000ms\">\n"
      "<img src=\"clip.3gp\" region=\"Image\" />\n"
      "</par>\n"
      "<par dur=\"30000ms\">\n"
      "<img src=\"pic.jpg\" region=\"Image\" />\n"
      "<audio src=\"tune.mp3\" />\n"
      "</par>\n"
      "<par dur=\"30000ms\">\n</par>\n"
      "<par dur=\"30000ms\">\n</par>\n"
      "<par dur=\"5000ms\">\n"
      "<audio src=\"song.amr\" />\n"
      "</par>\n",
      Body());
}

TEST_F(SmilWriterTest, LongNamesAndManySlidesGrowTheBlockInsteadOfCutting) {
  const std::wstring long_name(200, L'n');
  for (int slide = 0; slide < 32; ++slide) {
    Add(slide, L"\\" + long_name + std::to_wstring(slide) + L".jpg");
    Add(slide, L"\\" + long_name + std::to_wstring(slide) + L".txt");
    Add(slide, L"\\" + long_name + std::to_wstring(slide) + L".amr");
  }
  const std::string smil = Smil();
  EXPECT_GT(smil.size(), 2047u * 8);
  EXPECT_EQ(0, smil.compare(smil.size() - 15, 15, "</body>\n</smil>"));
  const std::string narrow(200, 'n');
  for (int slide = 0; slide < 32; ++slide) {
    const std::string stem = narrow + std::to_string(slide);
    EXPECT_NE(std::string::npos,
              smil.find("<img src=\"" + stem + ".jpg\" region=\"Image\" />"));
    EXPECT_NE(std::string::npos,
              smil.find("<text src=\"" + stem + ".txt\" region=\"Text\" />"));
    EXPECT_NE(std::string::npos,
              smil.find("<audio src=\"" + stem + ".amr\" />"));
  }
}

}  // namespace
}  // namespace mms::smil
