// Tests of slides and parts: slides made out of order, the 32-file limit,
// typed-text part files and their bytes, accessories, and text files read
// back. Tests that touch files get their own device root.
#include <filesystem>
#include <memory>
#include <string>

#include "mms.h"
#include "platform/device_fs.h"
#include "support/test_support.h"

namespace {

using mms::testing::Bytes;
using mms::testing::DeviceTest;
using mms::testing::ReadHostFile;
using mms::testing::WBuf;
using mms::testing::WriteHostFile;

std::string FileEntry(MMS_Custom_Data& m, int index) {
  char out[260] = {};
  EXPECT_EQ(m.GetFileName(index, out), 1);
  return out;
}

std::wstring SlideEntry(MMS_Custom_Data& m, int slide, int file) {
  wchar_t out[260] = {};
  EXPECT_EQ(m.GetPartFileName(slide, file, out), 1);
  return out;
}

Bytes BytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TEST(Slides, AreMadeOnlyWhereFilesGo) {
  MMS_Custom_Data m;
  ASSERT_EQ(m.AddPartFileName(3, WBuf(L"\\My Documents\\pic.jpg")), 1);
  EXPECT_EQ(m.m_nPartNum, 4);
  for (int s = 0; s < 32; ++s) {
    EXPECT_EQ(m.m_pSmilPart[s] != nullptr, s == 3) << s;
  }
  EXPECT_EQ(SlideEntry(m, 3, 0), L"pic.jpg");
  EXPECT_EQ(FileEntry(m, 0), "\\My Documents\\pic.jpg");
  ASSERT_EQ(m.AddPartFileName(1, WBuf(L"\\a\\b.amr")), 1);
  EXPECT_EQ(m.m_nPartNum, 4);

  wchar_t out[260] = L"keep";
  EXPECT_EQ(m.GetPartFileName(0, 0, out), 0);  // never made
  EXPECT_EQ(m.GetPartFileName(32, 0, out), 0);
  EXPECT_EQ(m.GetPartFileName(3, 32, out), 0);
  EXPECT_EQ(m.GetPartFileName(3, 1, out), 1);  // past the slide's files
  EXPECT_STREQ(out, L"keep");

  // Refused paths make no slide and add no file.
  EXPECT_EQ(m.AddPartFileName(5, WBuf(L"")), 0);
  EXPECT_EQ(m.AddPartFileName(32, WBuf(L"\\a.jpg")), 0);
  EXPECT_EQ(m.AddPartFileName(5, WBuf(L"\\" + std::wstring(259, L'a'))), 0);
  EXPECT_EQ(m.m_pSmilPart[5], nullptr);
  EXPECT_EQ(m.m_nPartNum, 4);
  EXPECT_EQ(m.m_nFileNum, 2);
}

TEST(Slides, FullSlideRefusesTheNameButTheFileStillTravels) {
  MMS_Custom_Data m;
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(m.AddPartFileName(0, WBuf(L"\\p\\" + std::to_wstring(i))), 1);
  }
  EXPECT_EQ(m.m_pSmilPart[0]->AddFileToPart(WBuf(L"33rd")), 0);
  ASSERT_EQ(m.AddPartFileName(0, WBuf(L"\\p\\extra.pdf")), 1);
  EXPECT_EQ(m.m_pSmilPart[0]->m_nFileNum, 32);
  EXPECT_EQ(SlideEntry(m, 0, 31), L"31");
  EXPECT_EQ(m.m_nFileNum, 33);
  EXPECT_EQ(FileEntry(m, 32), "\\p\\extra.pdf");
}

class TextParts : public DeviceTest {};

TEST_F(TextParts, WritesUtf8FileAndAddsItToTheSlide) {
  MMS_Custom_Data m;
  ASSERT_EQ(m.AddPartTxt(1, WBuf(L"\u4F60\u597D hi"), 0), 1);
  // In a folder of the record's own; the slide keeps the usual name.
  const std::string device = FileEntry(m, 0);
  EXPECT_EQ(device.rfind("\\Temp\\MMSText\\", 0), 0u) << device;
  EXPECT_EQ(device.substr(device.size() - 13), "\\tempTxt1.txt");
  const std::string host = Host(std::wstring(device.begin(), device.end()));
  // UTF-8 bytes only: no byte-order mark, no terminator.
  EXPECT_EQ(ReadHostFile(host), BytesOf("\xE4\xBD\xA0\xE5\xA5\xBD hi"));
  EXPECT_EQ(m.m_nPartNum, 2);
  EXPECT_EQ(SlideEntry(m, 1, 0), L"tempTxt1.txt");

  // The same slide again: the file is replaced, the name added again.
  ASSERT_EQ(m.AddPartTxt(1, WBuf(L"x"), 0), 1);
  EXPECT_EQ(FileEntry(m, 1), device);
  EXPECT_EQ(ReadHostFile(host), BytesOf("x"));
  EXPECT_EQ(m.m_pSmilPart[1]->m_nFileNum, 2);
  EXPECT_EQ(m.AddPartTxt(1, WBuf(L""), 0), 0);
  EXPECT_EQ(m.AddPartTxt(32, WBuf(L"x"), 0), 0);
  EXPECT_EQ(m.m_nFileNum, 2);

  // Another record's text has a folder of its own; a record's text goes
  // with it, the emptied folder at the latest when the device root changes.
  std::string other;
  {
    MMS_Custom_Data record;
    ASSERT_EQ(record.AddPartTxt(1, WBuf(L"y"), 0), 1);
    const std::string entry = FileEntry(record, 0);
    other = Host(std::wstring(entry.begin(), entry.end()));
    EXPECT_NE(entry, device);
    EXPECT_EQ(ReadHostFile(host), BytesOf("x"));
  }
  EXPECT_FALSE(std::filesystem::exists(other));
  // One removed behind the process is replaced by a new one.
  std::filesystem::remove(std::filesystem::path(other).parent_path());
  {
    MMS_Custom_Data record;
    ASSERT_EQ(record.AddPartTxt(1, WBuf(L"z"), 0), 1);
    const std::string entry = FileEntry(record, 0);
    other = Host(std::wstring(entry.begin(), entry.end()));
  }
  mms::platform::SetDeviceRoot(root_.host());
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::path(other).parent_path()));

  ASSERT_EQ(m.AddPartTxt(0, WBuf(L"read"), 1), 1);
  EXPECT_EQ(ReadHostFile(Host(L"readreport.txt")), BytesOf("read"));
  EXPECT_EQ(SlideEntry(m, 0, 0), L"readreport.txt");
  EXPECT_EQ(FileEntry(m, 2), "readreport.txt");
}

TEST_F(TextParts, UnwritableFileIsNotAdded) {
  MMS_Custom_Data m;
  // A plain file where the typed-text folders should go.
  WriteHostFile(Host(L"\\Temp\\MMSText"), "x");
  EXPECT_EQ(m.AddPartTxt(2, WBuf(L"text"), 0), 0);
  EXPECT_EQ(m.m_nFileNum, 0);
  EXPECT_EQ(m.m_pSmilPart[2], nullptr);
}

TEST_F(TextParts, ReadBackDecodesAndCreatesMissingFiles) {
  MMS_Custom_Data m;
  std::wstring typed = L"\u65B0\u5E74\u597D\uFF01 Happy new year";
  ASSERT_EQ(m.AddPartTxt(0, WBuf(typed), 0), 1);
  const std::string device = FileEntry(m, 0);
  std::unique_ptr<wchar_t[]> text(
      m.GetTextFromFile(WBuf(std::wstring(device.begin(), device.end()))));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::wstring(text.get()), typed);

  WriteHostFile(Host(L"\\Temp\\bad.txt"), "\xEF\xBB\xBFok\xF0\x9F\x98\x80 x");
  text.reset(m.GetTextFromFile(WBuf(L"\\temp\\bad.txt")));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), L"ok");  // what came before the rejected bytes

  text.reset(m.GetTextFromFile(WBuf(L"\\temp\\new.txt")));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), L"");
  EXPECT_EQ(ReadHostFile(Host(L"\\Temp\\new.txt")), Bytes());
  EXPECT_EQ(m.GetTextFromFile(WBuf(L"")), nullptr);
}

// A composed message holding `paths`.
std::unique_ptr<MMS_Custom_Data> Composed(
    std::initializer_list<const wchar_t*> paths) {
  auto m = std::make_unique<MMS_Custom_Data>();
  for (const wchar_t* path : paths) {
    EXPECT_EQ(m->AddFileNameToArray(WBuf(path)), 1);
  }
  return m;
}

TEST(Accessories, ComposedMessageByExtension) {
  EXPECT_EQ(Composed({})->IsHaveAccessories(), 0);
  EXPECT_EQ(Composed({L"\\a\\pic.JPG", L"\\a\\note.txt"})->IsHaveAccessories(),
            0);
  auto m = Composed({L"\\a\\pic.jpg", L"\\a\\Doc.PDF", L"\\a\\readme"});
  EXPECT_EQ(m->IsHaveAccessories(), 1);
  auto found = std::make_unique<MMS_Smil_Part>();
  ASSERT_EQ(m->GetAccessories(found.get()), 1);
  ASSERT_EQ(found->m_nFileNum, 2);
  EXPECT_STREQ(found->m_szFileName[0], L"\\a\\doc.pdf");  // lower case
  EXPECT_STREQ(found->m_szFileName[1], L"\\a\\readme");
}

// A received message: a SMIL file and three media files, `shown` of them on
// slide 1 the way the parser fills slides; slide 0 is left unmade.
std::unique_ptr<MMS_Custom_Data> Parsed(int shown) {
  auto m =
      Composed({L"\\temp\\mmsdecode\\pres.smil", L"\\temp\\mmsdecode\\A.jpg",
                L"\\temp\\mmsdecode\\b.amr", L"\\temp\\mmsdecode\\c.txt"});
  m->m_bSmilParsed = 1;
  m->m_nPartNum = 2;
  m->m_pSmilPart[1] = new MMS_Smil_Part();
  const wchar_t* on_slide[] = {L"\\temp\\mmsdecode\\a.jpg",
                               L"\\temp\\mmsdecode\\b.amr",
                               L"\\temp\\mmsdecode\\c.txt"};
  for (int i = 0; i < shown; ++i) {
    m->m_pSmilPart[1]->AddFileToPart(WBuf(on_slide[i]));
  }
  return m;
}

TEST(Accessories, ParsedMessageBySlides) {
  EXPECT_EQ(Parsed(3)->IsHaveAccessories(), 0);
  auto m = Parsed(2);
  EXPECT_EQ(m->IsHaveAccessories(), 1);
  auto found = std::make_unique<MMS_Smil_Part>();
  ASSERT_EQ(m->GetAccessories(found.get()), 1);
  ASSERT_EQ(found->m_nFileNum, 1);  // the SMIL file is never one
  EXPECT_STREQ(found->m_szFileName[0], L"\\temp\\mmsdecode\\c.txt");
}

}  // namespace
