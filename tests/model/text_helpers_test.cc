// Tests of the text and path helpers: the hand UTF-8 decoder byte by byte
// and the splitting of paths into file name and extension.
#include <string.h>

#include <string>
#include <vector>

#include "mms.h"
#include "support/test_support.h"

namespace {

using mms::testing::WBuf;

constexpr wchar_t kUnwritten = 0xAAAA;

// Decodes `bytes` into a buffer pre-filled with kUnwritten, so that both
// what the decoder wrote and what it did not write show.
int Decode(std::string bytes, std::vector<wchar_t>* out, int capacity = 16) {
  out->assign(static_cast<size_t>(capacity) + 4, kUnwritten);
  return Utf8ToWide(bytes.data(), out->data(), capacity);
}

TEST(Utf8ToWide, DecodesByteForms) {
  struct Case {
    const char* bytes;
    std::vector<wchar_t> units;
  } cases[] = {
      {"", {}},
      {"\xE4\xB8\xAD", {0x4E2D}},
      {"\xC3\xA9", {0x00E9}},
      {"\xEF\xBB\xBF\x41", {0x0041}},       // byte-order mark skipped
      {"a\x80\x62", {L'a', 0x0080, L'b'}},  // stray continuation passed on
      {"\xC0\x80", {0x0000}},               // overlong forms are not refused
  };
  for (const Case& c : cases) {
    std::vector<wchar_t> out;
    EXPECT_EQ(Decode(c.bytes, &out), 1) << c.bytes;
    std::vector<wchar_t> expected = c.units;
    expected.push_back(L'\0');
    EXPECT_EQ(std::vector<wchar_t>(out.begin(), out.begin() + expected.size()),
              expected)
        << c.bytes;
  }
}

TEST(Utf8ToWide, RejectsLeavingPartialOutputUnterminated) {
  std::vector<wchar_t> out;
  for (const char* bytes :
       {"\xC3\x41", "\xF0\x9F\x98\x80", "\xE4\xB8", "\xE4\x41\x80", "\xFF"}) {
    EXPECT_EQ(Decode(bytes, &out), 0) << bytes;
  }
  EXPECT_EQ(Decode("ab\xC3", &out), 0);
  EXPECT_EQ(std::wstring(out.data(), 3), std::wstring(L"ab") + kUnwritten);
  // Input needing more units than the capacity is refused, not overrun.
  EXPECT_EQ(Decode("abcd", &out, 4), 0);
  EXPECT_EQ(out[3], kUnwritten);
  EXPECT_EQ(Decode("abc", &out, 4), 1);
  EXPECT_EQ(Utf8ToWide(nullptr, out.data(), 4), 0);
}

// Runs a path helper with a sentinel-filled output; "#..." when untouched.
std::wstring PathOf(int (*helper)(wchar_t*, wchar_t*), const std::wstring& path,
                    int expected_result = 1) {
  wchar_t out[300];
  wmemset(out, L'#', 300);
  out[299] = L'\0';
  EXPECT_EQ(helper(WBuf(path), out), expected_result) << path.size();
  return out;
}

TEST(PathHelpers, ExtensionIsTextAfterLastDotAnywhere) {
  EXPECT_EQ(PathOf(GetFileExtension, L"\\My Documents\\photo.JPG"), L"JPG");
  EXPECT_EQ(PathOf(GetFileExtension, L"\\temp\\mmsdecode\\a.b.txt"), L"txt");
  EXPECT_EQ(PathOf(GetFileExtension, L"\\dir.d\\file"), L"d\\file");
  EXPECT_EQ(PathOf(GetFileExtension, L"\\temp\\name."), L"");
  const std::wstring untouched(299, L'#');
  EXPECT_EQ(PathOf(GetFileExtension, L"\\temp\\readme"), untouched);
  std::wstring longest = L"\\" + std::wstring(254, L'a') + L".txt";  // 259
  EXPECT_EQ(PathOf(GetFileExtension, longest), L"txt");
  EXPECT_EQ(PathOf(GetFileExtension, L"a" + longest, 0), untouched);
}

}  // namespace
