// Tests of the message record's own fields: recipient, Cc list, subject,
// file names and the SMIL block, with the bytes each field ends up holding
// and the refusals that must leave the record as it was.
#include <string.h>

#include <memory>
#include <string>

#include "mms.h"
#include "support/test_support.h"

namespace {

using mms::testing::WBuf;

std::string Field(const char* field) { return std::string(field); }

std::wstring PhoneOf(MMS_Custom_Data& m) {
  wchar_t out[260] = {};
  EXPECT_EQ(m.GetPhoneNumber(out), 1);
  return out;
}

// A copy of the record's fixed fields, to show a refused call changed none.
std::string Snapshot(const MMS_Custom_Data& m) {
  std::string s;
  s.append(m.m_szCcName, 260);
  s.append(m.m_szPhoneNumber, 260);
  s.append(m.m_szSenderPhoneNumber, 260);
  s.append(m.m_szSubject, 260);
  s += std::to_string(m.m_nFileNum) + "/" + std::to_string(m.m_nCcNumber);
  return s;
}

TEST(Construction, StartsEmptyAndCopiesOptions) {
  MMS_Custom_Data empty;
  EXPECT_EQ(empty.m_nFileNum, 0);
  EXPECT_EQ(empty.m_pFileNameArray, nullptr);
  EXPECT_EQ(empty.m_pSimlContent, nullptr);
  EXPECT_EQ(empty.m_pOption, nullptr);
  EXPECT_EQ(empty.m_nPartNum, 0);
  EXPECT_EQ(empty.m_bSmilParsed, 0);
  EXPECT_EQ(empty.m_nRootWidth, 0);
  EXPECT_EQ(empty.m_stDate.wYear, 0);
  for (MMS_Smil_Part* part : empty.m_pSmilPart) {
    EXPECT_EQ(part, nullptr);
  }

  MMS_Option option = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  MMS_Custom_Data sized(2, &option);
  EXPECT_EQ(sized.m_nFileNum, 2);
  ASSERT_NE(sized.m_pOption, nullptr);
  EXPECT_NE(sized.m_pOption, &option);
  EXPECT_EQ(memcmp(sized.m_pOption, &option, sizeof(option)), 0);
  ASSERT_NE(sized.m_pFileNameArray, nullptr);
  EXPECT_EQ(sized.m_pFileNameArray[1][0], '\0');
  ASSERT_EQ(sized.SetFileNameArray(1, WBuf(L"\\a\\b.jpg")), 1);
  EXPECT_EQ(Field(sized.m_pFileNameArray[1]), "\\a\\b.jpg");
  EXPECT_EQ(sized.SetFileNameArray(2, WBuf(L"\\a\\c.jpg")), 0);  // past it
  EXPECT_EQ(sized.SetFileNameArray(-1, WBuf(L"\\a\\c.jpg")), 0);
  EXPECT_EQ(sized.SetFileNameArray(0, WBuf(L"")), 0);

  MMS_Custom_Data no_option(0, nullptr);
  EXPECT_EQ(no_option.m_nFileNum, 0);
  EXPECT_EQ(no_option.m_pOption, nullptr);
}

TEST(PhoneNumber, StoresOneNumberWithCountryCode) {
  struct Case {
    const wchar_t* given;
    const char* stored;
  } cases[] = {
      {L"13800000001", "+8613800000001"},
      {L"+8613800000001", "+8613800000001"},
      {L"0086138000000", "+860086138000000"},
      {L"1+86", "1+86"},  // "+86" anywhere counts
  };
  for (const Case& c : cases) {
    MMS_Custom_Data m;
    ASSERT_EQ(m.SetPhoneNumber(WBuf(c.given)), 1) << c.given;
    EXPECT_EQ(Field(m.m_szPhoneNumber), c.stored);
  }
}

TEST(PhoneNumber, RefusalsKeepTheStoredNumber) {
  MMS_Custom_Data m;
  ASSERT_EQ(m.SetPhoneNumber(WBuf(L"13800000001")), 1);
  std::string before = Snapshot(m);
  for (const wchar_t* bad :
       {L"", L"138 00000001", L"13800000001,13900000002", L"1;2", L"abc"}) {
    EXPECT_EQ(m.SetPhoneNumber(WBuf(bad)), 0) << bad;
  }
  EXPECT_EQ(m.SetPhoneNumber(nullptr), 0);
  // 257 digits grow to 260 bytes with "+86": one more than the field holds.
  EXPECT_EQ(m.SetPhoneNumber(WBuf(std::wstring(257, L'1'))), 0);
  EXPECT_EQ(Snapshot(m), before);
  ASSERT_EQ(m.SetPhoneNumber(WBuf(std::wstring(256, L'1'))), 1);
  EXPECT_EQ(strlen(m.m_szPhoneNumber), 259u);
}

TEST(PhoneNumber, GettersDropThePlmnSuffix) {
  MMS_Custom_Data m;
  EXPECT_EQ(PhoneOf(m), L"");
  strcpy(m.m_szPhoneNumber, "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(PhoneOf(m), L"+8613800000001");
  strcpy(m.m_szSenderPhoneNumber, "+8613900000002/TYPE=PLMN");
  wchar_t out[260] = {};
  ASSERT_EQ(m.GetSenderPhoneNumber(out), 1);
  EXPECT_STREQ(out, L"+8613900000002");
  EXPECT_EQ(m.GetPhoneNumber(nullptr), 0);
  // A field filled to its last byte by a careless writer is still bounded.
  memset(m.m_szPhoneNumber, '1', 260);
  EXPECT_EQ(m.GetPhoneNumber(out), 0);
}

TEST(CcList, AccumulatesEntriesAndAnswersByDeclaredCount) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.GetCcNumber(), -1);
  ASSERT_EQ(m.AddCcName(WBuf(L"13800000001")), 1);
  ASSERT_EQ(m.AddCcName(WBuf(L"+8613900000002")), 1);
  EXPECT_EQ(Field(m.m_szCcName),
            "*+8613800000001/TYPE=PLMN*+8613900000002/TYPE=PLMN");
  EXPECT_EQ(m.GetCcNumber(), 2);
  EXPECT_EQ(m.m_nCcNumber, 0);

  wchar_t out[260] = {};
  EXPECT_EQ(m.GetCcName(out, 0), 0);  // nothing declared yet
  ASSERT_EQ(m.SetCcNumber(2), 1);
  ASSERT_EQ(m.GetCcName(out, 0), 1);
  EXPECT_STREQ(out, L"+8613800000001");
  ASSERT_EQ(m.GetCcName(out, 1), 1);
  EXPECT_STREQ(out, L"+8613900000002");
  ASSERT_EQ(m.GetCcNameWithPLNM(out, 0), 1);
  EXPECT_STREQ(out, L"+8613800000001/TYPE=PLMN");
  ASSERT_EQ(m.GetCcNameWithPLNM(out, 1), 1);
  EXPECT_STREQ(out, L"+8613900000002/TYPE=PLMN");

  EXPECT_EQ(m.GetCcName(out, -1), 0);
  EXPECT_EQ(m.GetCcName(out, 2), 0);
  EXPECT_EQ(m.GetCcName(nullptr, 0), 0);
  m.SetCcNumber(3);  // declared more than the list holds
  EXPECT_EQ(m.GetCcName(out, 2), 0);
  EXPECT_EQ(m.GetCcNameWithPLNM(out, 2), 0);
}

TEST(CcList, TakesAnyTextButNotPastTheField) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.AddCcName(WBuf(L"")), 0);
  EXPECT_EQ(m.AddCcName(nullptr), 0);
  ASSERT_EQ(m.AddCcName(WBuf(L"abc")), 1);
  EXPECT_EQ(Field(m.m_szCcName), "*+86abc/TYPE=PLMN");

  // Entries of 25 bytes: ten fit in 259, the eleventh is refused whole.
  MMS_Custom_Data full;
  int added = 0;
  while (full.AddCcName(WBuf(L"13800000001")) == 1) {
    ++added;
    ASSERT_LT(added, 20);
  }
  EXPECT_EQ(added, 10);
  EXPECT_EQ(strlen(full.m_szCcName), 250u);
  std::string before = Snapshot(full);
  EXPECT_EQ(full.AddCcName(WBuf(L"1")), 0);  // 15 more bytes: 265
  EXPECT_EQ(full.AddCcName(WBuf(std::wstring(300, L'1'))), 0);
  EXPECT_EQ(Snapshot(full), before);
  EXPECT_EQ(full.GetCcNumber(), 10);
}

TEST(CcList, ReceivedValuesWithoutStarsHaveNoEntries) {
  MMS_Custom_Data m;
  strcpy(m.m_szCcName, "+8613800000001/TYPE=PLMN+8613900000002/TYPE=PLMN");
  m.SetCcNumber(2);
  EXPECT_EQ(m.GetCcNumber(), 0);
  wchar_t out[260] = {};
  EXPECT_EQ(m.GetCcName(out, 0), 0);
}

TEST(Subject, RoundTripsChineseThroughUtf8) {
  MMS_Custom_Data m;
  wchar_t out[260];
  wmemset(out, L'#', 260);
  ASSERT_EQ(m.GetSubject(out), 1);  // empty subject reads back as ""
  EXPECT_STREQ(out, L"");

  ASSERT_EQ(m.SetSubject(WBuf(L"\u4E2D\u6587\u4E3B\u9898 Hi")), 1);
  EXPECT_EQ(Field(m.m_szSubject),
            "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xBB\xE9\xA2\x98 Hi");
  ASSERT_EQ(m.GetSubject(out), 1);
  EXPECT_STREQ(out, L"\u4E2D\u6587\u4E3B\u9898 Hi");
  EXPECT_EQ(m.GetSubject(nullptr), 0);
}

TEST(Subject, RefusesWhatDoesNotFitOrDecode) {
  MMS_Custom_Data m;
  ASSERT_EQ(m.SetSubject(WBuf(L"old")), 1);
  std::string before = Snapshot(m);
  EXPECT_EQ(m.SetSubject(WBuf(L"")), 0);
  EXPECT_EQ(m.SetSubject(nullptr), 0);
  // 87 three-byte characters need 261 bytes; 86 need 258 and fit.
  EXPECT_EQ(m.SetSubject(WBuf(std::wstring(87, L'\u4E2D'))), 0);
  EXPECT_EQ(Snapshot(m), before);
  ASSERT_EQ(m.SetSubject(WBuf(std::wstring(86, L'\u4E2D'))), 1);
  wchar_t out[260] = {};
  ASSERT_EQ(m.GetSubject(out), 1);
  EXPECT_EQ(std::wstring(out), std::wstring(86, L'\u4E2D'));

  // Received bytes the decoder rejects leave the caller's buffer alone.
  for (const char* bad : {"ok\xF0\x9F\x98\x80", "\xC3" "A", "\xE4\xB8"}) {
    strcpy(m.m_szSubject, bad);
    wmemset(out, L'#', 260);
    out[259] = L'\0';
    EXPECT_EQ(m.GetSubject(out), 0) << bad;
    EXPECT_EQ(out[0], L'#');
  }
  // All 260 bytes filled with text: refused, nothing read past the field.
  memset(m.m_szSubject, 'a', 260);
  EXPECT_EQ(m.GetSubject(out), 0);
}

TEST(FileNames, HoldGbkBytesAndGiveBackWideText) {
  MMS_Custom_Data m;
  std::wstring name = L"\\My Documents\\\u56FE\u7247.jpg";
  ASSERT_EQ(m.AddFileNameToArray(WBuf(name)), 1);
  EXPECT_EQ(m.m_nFileNum, 1);
  EXPECT_EQ(Field(m.m_pFileNameArray[0]),
            "\\My Documents\\\xCD\xBC\xC6\xAC.jpg");
  wchar_t wide[260] = {};
  ASSERT_EQ(m.GetFileName(0, wide), 1);
  EXPECT_EQ(std::wstring(wide), name);
  char ansi[260] = {};
  ASSERT_EQ(m.GetFileName(0, ansi), 1);
  EXPECT_STREQ(ansi, m.m_pFileNameArray[0]);

  for (int bad : {-1, 1}) {
    EXPECT_EQ(m.GetFileName(bad, wide), 0) << bad;
    EXPECT_EQ(m.GetFileName(bad, ansi), 0) << bad;
  }
  EXPECT_EQ(m.GetFileName(0, static_cast<wchar_t*>(nullptr)), 0);
}

TEST(FileNames, CountEmptyNamesAndStopAtCapacity) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.AddFileNameToArray(WBuf(L"")), 1);
  EXPECT_EQ(m.AddFileNameToArray(nullptr), 1);
  EXPECT_EQ(m.m_nFileNum, 2);
  char ansi[260] = {'#'};
  ASSERT_EQ(m.GetFileName(1, ansi), 1);
  EXPECT_STREQ(ansi, "");

  // A name whose ANSI form needs 260 bytes is refused and not counted.
  EXPECT_EQ(m.AddFileNameToArray(WBuf(std::wstring(260, L'a'))), 0);
  EXPECT_EQ(m.m_nFileNum, 2);
  ASSERT_EQ(m.AddFileNameToArray(WBuf(std::wstring(259, L'a'))), 1);

  while (m.m_nFileNum < 1024) {
    ASSERT_EQ(m.AddFileNameToArray(WBuf(L"\\f.jpg")), 1);
  }
  EXPECT_EQ(m.AddFileNameToArray(WBuf(L"\\over.jpg")), 0);
  EXPECT_EQ(m.m_nFileNum, 1024);
  ASSERT_EQ(m.GetFileName(1023, ansi), 1);
  EXPECT_STREQ(ansi, "\\f.jpg");
  EXPECT_EQ(m.SetFileNameArray(1024, WBuf(L"\\over.jpg")), 0);
}

TEST(FileNames, AddingPastASizedArrayKeepsItsEntries) {
  MMS_Custom_Data m(2, nullptr);
  ASSERT_EQ(m.SetFileNameArray(0, WBuf(L"\\a.jpg")), 1);
  ASSERT_EQ(m.SetFileNameArray(1, WBuf(L"\\b.jpg")), 1);
  ASSERT_EQ(m.AddFileNameToArray(WBuf(L"\\c.jpg")), 1);
  EXPECT_EQ(m.m_nFileNum, 3);
  char ansi[260] = {};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(m.GetFileName(i, ansi), 1);
    EXPECT_EQ(std::string(ansi), std::string("\\") + char('a' + i) + ".jpg");
  }
}

TEST(SmilContent, RecordOwnsAndReplacesTheBlock) {
  auto block = [](const char* text) {
    char* p = static_cast<char*>(LocalAlloc(LPTR, strlen(text) + 1));
    strcpy(p, text);
    return p;
  };
  // The sanitizer run catches a leaked or twice-freed block here.
  auto m = std::make_unique<MMS_Custom_Data>();
  EXPECT_EQ(m->SetSimlContent(nullptr), 0);
  char* first = block("<smil>1</smil>");
  ASSERT_EQ(m->SetSimlContent(first), 1);
  EXPECT_EQ(m->m_pSimlContent, first);
  ASSERT_EQ(m->SetSimlContent(first), 1);  // the same block stays
  char* second = block("<smil>2</smil>");
  ASSERT_EQ(m->SetSimlContent(second), 1);
  EXPECT_EQ(m->m_pSimlContent, second);

  char out[8] = "keep";
  EXPECT_EQ(m->GetSimlContent(out), 1);
  EXPECT_STREQ(out, "keep");
  m.reset();
}

TEST(ReadReport, KeepsTheValueGiven) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.IsHaveReadReport(), 0);
  EXPECT_EQ(m.SetReadReport(7), 1);
  EXPECT_EQ(m.IsHaveReadReport(), 7);
}

}  // namespace
