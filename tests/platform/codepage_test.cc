// codepage_test.cc: code-page conversions: GBK round trips, invalid input,
// MMS_ACP, and the converters that stay open across threads.
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace {

using mms::testing::Bytes;
using mms::testing::Hex;

// "中国移动彩信中心" as code points and in GBK.
const wchar_t kChinese[] = L"\u4E2D\u56FD\u79FB\u52A8\u5F69\u4FE1\u4E2D\u5FC3";
const char kChineseGbkHex[] = "d6d0 b9fa d2c6 b6af b2ca d0c5 d6d0 d0c4";

std::string ToNarrow(UINT cp, const std::wstring& wide) {
  int n =
      WideCharToMultiByte(cp, 0, wide.c_str(), static_cast<int>(wide.size()),
                          nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  EXPECT_EQ(
      WideCharToMultiByte(cp, 0, wide.c_str(), static_cast<int>(wide.size()),
                          out.data(), n, nullptr, nullptr),
      n);
  return out;
}

std::wstring ToWide(UINT cp, const std::string& narrow) {
  int n = MultiByteToWideChar(cp, 0, narrow.data(),
                              static_cast<int>(narrow.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  EXPECT_EQ(MultiByteToWideChar(cp, 0, narrow.data(),
                                static_cast<int>(narrow.size()), out.data(), n),
            n);
  return out;
}

class CodePage : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("MMS_ACP"); }
  void TearDown() override { unsetenv("MMS_ACP"); }
};

TEST_F(CodePage, AnsiIsGbkAndRoundTripsChineseExactly) {
  std::string gbk = ToNarrow(CP_ACP, kChinese);
  Bytes expected = Hex(kChineseGbkHex);
  EXPECT_EQ(Bytes(gbk.begin(), gbk.end()), expected);
  EXPECT_EQ(ToWide(CP_ACP, gbk), kChinese);
  EXPECT_EQ(ToNarrow(936, kChinese), gbk);

  // Mixed with ASCII, as in a file path.
  std::wstring path = std::wstring(L"\\Temp\\") + kChinese + L".jpg";
  EXPECT_EQ(ToWide(CP_ACP, ToNarrow(CP_ACP, path)), path);
}

TEST_F(CodePage, InvalidInputIsRefusedNotReplaced) {
  wchar_t wide[16];
  char narrow[16];
  const char* bad_utf8[] = {"\xC0\xAF", "\xED\xA0\x80", "a\xE4\xB8", "\xFF"};
  for (const char* bad : bad_utf8) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, bad, -1, wide, 16), 0) << bad;
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
  // A GBK lead byte with no trail byte.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xd6", 1, wide, 16), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

  // Lone surrogates and values past U+10FFFF have no UTF-8 form.
  const wchar_t lone_high[] = {L'a', static_cast<wchar_t>(0xD800), 0};
  const wchar_t too_big[] = {static_cast<wchar_t>(0x110000), 0};
  for (const wchar_t* bad : {lone_high, too_big}) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, 0, bad, -1, narrow, 16, nullptr, nullptr),
        0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
  // A character GBK cannot hold is refused, and nothing counts as
  // substituted.
  BOOL used_default = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\U0001F600", -1, narrow, 16,
                                nullptr, &used_default),
            0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_FALSE(used_default);
}

TEST_F(CodePage, MmsAcpChoosesTheAnsiCodePage) {
  setenv("MMS_ACP", "65001", 1);
  EXPECT_EQ(ToNarrow(CP_ACP, kChinese), ToNarrow(CP_UTF8, kChinese));
  EXPECT_EQ(ToWide(CP_ACP, "\xE4\xB8\xAD"), L"\u4E2D");

  setenv("MMS_ACP", "1252", 1);
  std::string latin = ToNarrow(CP_ACP, L"caf\u00E9");
  EXPECT_EQ(latin, "caf\xE9");
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, kChinese, -1, nullptr, 0, nullptr,
                                nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

  unsetenv("MMS_ACP");
  EXPECT_EQ(ToWide(CP_ACP, "\xd6\xd0"), L"\u4E2D");
}

TEST_F(CodePage, TwoThreadsConvertAtOnceWithoutMixingState) {
  // Both threads use the GBK converters; a converter shared mid-conversion
  // or handed back in a shift state would garble one of the texts.
  const std::wstring texts[2] = {std::wstring(kChinese) + L"abc",
                                 L"x\u5F69\u4FE1" + std::wstring(40, L'y')};
  std::string expected[2] = {ToNarrow(CP_ACP, texts[0]),
                             ToNarrow(CP_ACP, texts[1])};
  std::atomic<int> wrong{0};
  auto work = [&](int which) {
    for (int i = 0; i < 2000; ++i) {
      const std::wstring& text = texts[which];
      char narrow[128];
      int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(),
                                  static_cast<int>(text.size()), narrow,
                                  sizeof narrow, nullptr, nullptr);
      wchar_t wide[128];
      int m = MultiByteToWideChar(CP_ACP, 0, narrow, n, wide, 128);
      if (std::string(narrow, n > 0 ? n : 0) != expected[which] ||
          std::wstring(wide, m > 0 ? m : 0) != text) {
        ++wrong;
      }
    }
  };
  std::thread first(work, 0);
  std::thread second(work, 1);
  first.join();
  second.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
