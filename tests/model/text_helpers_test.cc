// Tests of the text and path helpers: the hand UTF-8 decoder byte by byte,
// the phone-number test and the path splitting.
#include <string.h>

#include <string>
#include <vector>

#include "mms.h"
#include "support/test_support.h"

namespace {

using mms::testing::WBuf;

// Decodes `bytes` into a buffer pre-filled with 0xAAAA so that what the
// decoder wrote, and did not write, both show.
struct Decoded {
  int result;
  std::vector<wchar_t> out;
};

Decoded Decode(const std::string& bytes, int capacity = 16) {
  std::string text = bytes;  // writable, NUL-terminated
  Decoded d{0, std::vector<wchar_t>(static_cast<size_t>(capacity) + 4,
                                    static_cast<wchar_t>(0xAAAA))};
  d.result = Utf8ToWide(text.data(), d.out.data(), capacity);
  return d;
}

TEST(Utf8ToWide, DecodesOneTwoAndThreeByteForms) {
  struct Case {
    const char* bytes;
    std::vector<wchar_t> units;
  } cases[] = {
      {"\xE4\xB8\xAD", {0x4E2D}},
      {"\xC3\xA9", {0x00E9}},
      {"\xD0\x96", {0x0416}},
      {"\xEF\xBB\xBF" "A", {0x0041}},       // byte-order mark skipped
      {"\x80", {0x0080}},                   // stray continuation passed on
      {"a\xBF" "b", {L'a', 0x00BF, L'b'}},
      {"\xC0\x80", {0x0000}},               // overlong forms are not refused
      {"\xE4\xB8\xAD\xE6\x96\x87", {0x4E2D, 0x6587}},
  };
  for (const Case& c : cases) {
    Decoded d = Decode(c.bytes);
    EXPECT_EQ(d.result, 1) << c.bytes;
    for (size_t i = 0; i < c.units.size(); ++i) {
      EXPECT_EQ(d.out[i], c.units[i]) << c.bytes << " unit " << i;
    }
    EXPECT_EQ(d.out[c.units.size()], L'\0') << c.bytes;
  }
}

TEST(Utf8ToWide, EmptyInputWritesEmptyText) {
  Decoded d = Decode("");
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.out[0], L'\0');
  // A lone byte-order mark is just as empty.
  d = Decode("\xEF\xBB\xBF");
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.out[0], L'\0');
}

TEST(Utf8ToWide, RejectsBadSequencesLeavingPartialOutputUnterminated) {
  const char* rejected[] = {
      "\xC3" "A",                 // second byte not 10xxxxxx
      "\xF0\x9F\x98\x80",         // four-byte form
      "\xE4\xB8",                 // cut short by the end of the text
      "\xE4" "A" "\x80",          // first continuation missing
      "\xFF",                     // eight leading ones
  };
  for (const char* bytes : rejected) {
    EXPECT_EQ(Decode(bytes).result, 0) << bytes;
  }
  Decoded d = Decode("ab\xC3");
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.out[0], L'a');
  EXPECT_EQ(d.out[1], L'b');
  EXPECT_EQ(d.out[2], static_cast<wchar_t>(0xAAAA));  // no terminator
}

TEST(Utf8ToWide, NeverWritesPastCapacity) {
  Decoded d = Decode("abcd", 4);  // needs 5 units with the terminator
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.out[3], static_cast<wchar_t>(0xAAAA));
  d = Decode("abc", 4);
  EXPECT_EQ(d.result, 1);
  EXPECT_EQ(d.out[3], L'\0');
  wchar_t out[4];
  char text[] = "a";
  EXPECT_EQ(Utf8ToWide(nullptr, out, 4), 0);
  EXPECT_EQ(Utf8ToWide(text, nullptr, 4), 0);
  EXPECT_EQ(Utf8ToWide(text, out, 0), 0);
}

TEST(WideToUtf8, WritesUtf8WithTerminator) {
  WBuf text(L"\u4E2D\u6587a");
  char out[16];
  memset(out, 0x55, sizeof(out));
  ASSERT_EQ(WideToUtf8(text, out), 1);
  EXPECT_EQ(std::string(out, 8), std::string("\xE4\xB8\xAD\xE6\x96\x87" "a\0",
                                             8));
  EXPECT_EQ(out[8], 0x55);  // nothing past the terminator
  EXPECT_EQ(WideToUtf8(nullptr, out), 0);
  EXPECT_EQ(WideToUtf8(text, nullptr), 0);
}

TEST(IsPhoneNumberText, AcceptsDigitsAndPlusOnly) {
  for (const wchar_t* good : {L"+8613800000001", L"13800000001", L"+"}) {
    EXPECT_EQ(IsPhoneNumberText(WBuf(good)), 1) << good;
  }
  for (const wchar_t* bad :
       {L"", L"138 0000", L"138-0000", L"138a", L"1,2", L"1;2"}) {
    EXPECT_EQ(IsPhoneNumberText(WBuf(bad)), 0) << bad;
  }
  EXPECT_EQ(IsPhoneNumberText(nullptr), 0);
}

// Runs a path helper on `path` with a sentinel-filled output.
std::wstring RunPathHelper(int (*helper)(wchar_t*, wchar_t*),
                           const std::wstring& path, int* result) {
  WBuf in(path);
  wchar_t out[300];
  wmemset(out, L'#', 300);
  out[299] = L'\0';
  *result = helper(in, out);
  return std::wstring(out);
}

TEST(GetFileExtension, TakesTextAfterLastDotAnywhere) {
  struct Case {
    const wchar_t* path;
    const wchar_t* extension;
  } cases[] = {
      {L"\\My Documents\\photo.JPG", L"JPG"},  // case kept
      {L"\\temp\\mmsdecode\\a.b.txt", L"txt"},
      {L"\\dir.d\\file", L"d\\file"},         // the search crosses folders
      {L"\\temp\\name.", L""},
  };
  for (const Case& c : cases) {
    int result = 0;
    EXPECT_EQ(RunPathHelper(GetFileExtension, c.path, &result), c.extension)
        << c.path;
    EXPECT_EQ(result, 1);
  }
}

TEST(GetFileExtension, LeavesOutputAloneWithoutDotOrWhenTooLong) {
  int result = 0;
  std::wstring untouched(299, L'#');
  EXPECT_EQ(RunPathHelper(GetFileExtension, L"\\temp\\readme", &result),
            untouched);
  EXPECT_EQ(result, 1);
  std::wstring longest = L"\\" + std::wstring(254, L'a') + L".txt";  // 259
  EXPECT_EQ(RunPathHelper(GetFileExtension, longest, &result), L"txt");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(RunPathHelper(GetFileExtension, L"a" + longest, &result),
            untouched);
  EXPECT_EQ(result, 0);
  wchar_t out[8];
  EXPECT_EQ(GetFileExtension(nullptr, out), 0);
}

TEST(GetFileExtensionA, WorksOnAnsiPathsAndKeepsCase) {
  char path[] = "\\My Documents\\\xCD\xBC\xC6\xAC.JPG";  // GBK name
  char out[260];
  memset(out, '#', sizeof(out));
  ASSERT_EQ(GetFileExtensionA(path, out), 1);
  EXPECT_STREQ(out, "JPG");
  char no_dot[] = "\\temp\\readme";
  ASSERT_EQ(GetFileExtensionA(no_dot, out), 1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetFileExtensionA(nullptr, out), 0);
  EXPECT_EQ(GetFileExtensionA(path, nullptr), 0);
}

TEST(GetFileNameFromPath, TakesTextAfterLastBackslash) {
  struct Case {
    const wchar_t* path;
    const wchar_t* name;
  } cases[] = {
      {L"\\temp\\mmsdecode\\pic.jpg", L"pic.jpg"},
      {L"pic.jpg", L"pic.jpg"},
      {L"\\temp\\", L""},
      {L"\\My Documents\\\u56FE\u7247.jpg", L"\u56FE\u7247.jpg"},
  };
  for (const Case& c : cases) {
    int result = 0;
    EXPECT_EQ(RunPathHelper(GetFileNameFromPath, c.path, &result), c.name)
        << c.path;
    EXPECT_EQ(result, 1);
  }
  int result = 1;
  EXPECT_EQ(RunPathHelper(GetFileNameFromPath, std::wstring(260, L'a'),
                          &result),
            std::wstring(299, L'#'));
  EXPECT_EQ(result, 0);
}

}  // namespace
