// Tests of the message record's own fields: the bytes each field ends up
// holding, the indexes the getters accept, and refusals that leave the
// record exactly as it was.
#include <string.h>

#include <string>

#include "mms.h"
#include "support/test_support.h"

namespace {

using mms::testing::WBuf;

// The record's fixed fields and counts, to show a refused call changed none.
std::string Snapshot(const MMS_Custom_Data& m) {
  return std::string(m.m_szCcName, 260) + std::string(m.m_szPhoneNumber, 260) +
         std::string(m.m_szSubject, 260) + std::to_string(m.m_nFileNum);
}

TEST(PhoneNumber, StoresOneNumberWithCountryCode) {
  struct Case {
    const wchar_t* given;
    const char* stored;
  } cases[] = {{L"13800000001", "+8613800000001"},
               {L"+8613800000001", "+8613800000001"},
               {L"0086138000000", "+860086138000000"},
               {L"1+86", "1+86"}};
  for (const Case& c : cases) {
    MMS_Custom_Data m;
    ASSERT_EQ(m.SetPhoneNumber(WBuf(c.given)), 1) << c.given;
    EXPECT_STREQ(m.m_szPhoneNumber, c.stored);
  }
  MMS_Custom_Data m;
  ASSERT_EQ(m.SetPhoneNumber(WBuf(L"13800000001")), 1);
  std::string before = Snapshot(m);
  for (const wchar_t* bad : {L"", L"138 0001", L"1380,1390", L"1;2", L"1-2"}) {
    EXPECT_EQ(m.SetPhoneNumber(WBuf(bad)), 0) << bad;
  }
  // 257 digits grow to 260 bytes with "+86": one more than the field holds.
  EXPECT_EQ(m.SetPhoneNumber(WBuf(std::wstring(257, L'1'))), 0);
  EXPECT_EQ(Snapshot(m), before);
  EXPECT_EQ(m.SetPhoneNumber(WBuf(std::wstring(256, L'1'))), 1);
}

TEST(PhoneNumber, GettersDropThePlmnSuffixAndLaterRecipients) {
  MMS_Custom_Data m;
  wchar_t out[260] = L"#";
  ASSERT_EQ(m.GetPhoneNumber(out), 1);
  EXPECT_STREQ(out, L"");
  strcpy(m.m_szPhoneNumber, "+8613800000001/TYPE=PLMN");
  ASSERT_EQ(m.GetPhoneNumber(out), 1);
  EXPECT_STREQ(out, L"+8613800000001");
  strcpy(m.m_szSenderPhoneNumber, "+8613900000002/TYPE=PLMN");
  ASSERT_EQ(m.GetSenderPhoneNumber(out), 1);
  EXPECT_STREQ(out, L"+8613900000002");
  // A received message lists every recipient: the first is given.
  strcpy(m.m_szPhoneNumber, "+4412,+4413/TYPE=PLMN");
  ASSERT_EQ(m.GetPhoneNumber(out), 1);
  EXPECT_STREQ(out, L"+4412");
  // A field filled to its last byte by a careless writer is still bounded.
  memset(m.m_szPhoneNumber, '1', 260);
  EXPECT_EQ(m.GetPhoneNumber(out), 0);
}

TEST(CcList, AccumulatesEntriesAndAnswersByDeclaredCount) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.GetCcNumber(), -1);
  ASSERT_EQ(m.AddCcName(WBuf(L"13800000001")), 1);
  ASSERT_EQ(m.AddCcName(WBuf(L"+8613900000002")), 1);
  EXPECT_STREQ(m.m_szCcName,
               "*+8613800000001/TYPE=PLMN*+8613900000002/TYPE=PLMN");
  EXPECT_EQ(m.GetCcNumber(), 2);

  wchar_t out[260] = {};
  EXPECT_EQ(m.GetCcName(out, 0), 0);  // nothing declared yet
  ASSERT_EQ(m.SetCcNumber(2), 1);
  ASSERT_EQ(m.GetCcName(out, 1), 1);
  EXPECT_STREQ(out, L"+8613900000002");
  EXPECT_EQ(m.GetCcName(out, -1), 0);
  EXPECT_EQ(m.GetCcName(out, 2), 0);
  m.SetCcNumber(3);  // declared more than the list holds
  EXPECT_EQ(m.GetCcNameWithPLNM(out, 2), 0);

  // Received Cc values run together without "*": no entries to index.
  strcpy(m.m_szCcName, "+8613800000001/TYPE=PLMN+8613900000002/TYPE=PLMN");
  EXPECT_EQ(m.GetCcNumber(), 0);
  EXPECT_EQ(m.GetCcName(out, 0), 0);
}

TEST(CcList, TakesAnyTextButNeverPastTheField) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.AddCcName(WBuf(L"")), 0);
  ASSERT_EQ(m.AddCcName(WBuf(L"abc")), 1);
  EXPECT_STREQ(m.m_szCcName, "*+86abc/TYPE=PLMN");

  // Entries of 25 bytes: ten fit in 259, the eleventh is refused whole.
  MMS_Custom_Data full;
  int added = 0;
  while (added < 20 && full.AddCcName(WBuf(L"13800000001")) == 1) {
    ++added;
  }
  EXPECT_EQ(added, 10);
  std::string before = Snapshot(full);
  EXPECT_EQ(full.AddCcName(WBuf(L"1")), 0);  // 15 more bytes: 265
  EXPECT_EQ(full.AddCcName(WBuf(std::wstring(300, L'1'))), 0);
  EXPECT_EQ(Snapshot(full), before);
  // "*+86" + 245 digits + "/TYPE=PLMN" is 259 bytes: the last that fit.
  MMS_Custom_Data edge;
  EXPECT_EQ(edge.AddCcName(WBuf(L"+86" + std::wstring(246, L'1'))), 0);
  ASSERT_EQ(edge.AddCcName(WBuf(L"+86" + std::wstring(245, L'1'))), 1);
  EXPECT_EQ(strlen(edge.m_szCcName), 259u);
}

TEST(Subject, ReadsBackEmptyAndRefusesWhatDoesNotFit) {
  MMS_Custom_Data m;
  wchar_t out[260] = L"#";
  ASSERT_EQ(m.GetSubject(out), 1);  // an empty subject reads back as ""
  EXPECT_STREQ(out, L"");
  // 86 three-byte characters and two letters need 260 bytes: one too many.
  std::wstring longest = std::wstring(86, L'\u4E2D') + L"a";
  std::string before = Snapshot(m);
  EXPECT_EQ(m.SetSubject(WBuf(L"")), 0);
  EXPECT_EQ(m.SetSubject(WBuf(longest + L"b")), 0);
  EXPECT_EQ(Snapshot(m), before);
  ASSERT_EQ(m.SetSubject(WBuf(longest)), 1);
  EXPECT_EQ(strlen(m.m_szSubject), 259u);
}

TEST(Subject, UndecodableBytesLeaveTheCallersBuffer) {
  MMS_Custom_Data m;
  wchar_t out[260] = L"keep";
  for (const char* bad : {"ok\xF0\x9F\x98\x80", "\xC3\x41", "\xE4\xB8"}) {
    strcpy(m.m_szSubject, bad);
    EXPECT_EQ(m.GetSubject(out), 0) << bad;
  }
  memset(m.m_szSubject, 'a', 260);  // no terminator: nothing read past it
  EXPECT_EQ(m.GetSubject(out), 0);
  EXPECT_STREQ(out, L"keep");
}

TEST(FileNames, CountEmptyNamesAndStopAtCapacity) {
  MMS_Custom_Data m;
  EXPECT_EQ(m.AddFileNameToArray(WBuf(L"")), 1);
  EXPECT_EQ(m.AddFileNameToArray(nullptr), 1);
  EXPECT_EQ(m.m_nFileNum, 2);
  // A name whose ANSI form needs 260 bytes is refused and not counted.
  EXPECT_EQ(m.AddFileNameToArray(WBuf(std::wstring(260, L'a'))), 0);
  EXPECT_EQ(m.m_nFileNum, 2);
  while (m.m_nFileNum < 1024) {
    ASSERT_EQ(m.AddFileNameToArray(WBuf(L"\\f.jpg")), 1);
  }
  EXPECT_EQ(m.AddFileNameToArray(WBuf(L"\\over.jpg")), 0);
  EXPECT_EQ(m.SetFileNameArray(1024, WBuf(L"\\over.jpg")), 0);
  EXPECT_EQ(m.m_nFileNum, 1024);
  wchar_t wide[260] = {};
  EXPECT_EQ(m.GetFileName(-1, wide), 0);
  EXPECT_EQ(m.GetFileName(1024, wide), 0);
}

TEST(FileNames, SizedArrayIsBoundedThenGrowsKeepingEntries) {
  MMS_Option option = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  MMS_Custom_Data m(2, &option);
  ASSERT_NE(m.m_pOption, nullptr);
  EXPECT_EQ(memcmp(m.m_pOption, &option, sizeof(option)), 0);
  EXPECT_EQ(m.m_nFileNum, 2);
  ASSERT_EQ(m.SetFileNameArray(0, WBuf(L"\\a.jpg")), 1);
  ASSERT_EQ(m.SetFileNameArray(1, WBuf(L"\\b.jpg")), 1);
  EXPECT_EQ(m.SetFileNameArray(2, WBuf(L"\\c.jpg")), 0);
  ASSERT_EQ(m.AddFileNameToArray(WBuf(L"\\c.jpg")), 1);
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
  // Under the sanitizers a leaked or twice-freed block fails this test.
  MMS_Custom_Data m;
  char* first = block("<smil>1</smil>");
  ASSERT_EQ(m.SetSimlContent(first), 1);
  ASSERT_EQ(m.SetSimlContent(first), 1);  // the same block stays
  ASSERT_EQ(m.SetSimlContent(block("<smil>2</smil>")), 1);
  EXPECT_STREQ(m.m_pSimlContent, "<smil>2</smil>");
}

}  // namespace
