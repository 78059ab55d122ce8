// codepage_test.cc: code-page conversions: GBK and UTF-8 round trips, the
// Win32 counting rules, too-small buffers, invalid input, MMS_ACP, and the
// converters that stay open across threads.
#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "platform/winapi.h"
#include "support/test_support.h"

namespace {

using mms::testing::Bytes;
using mms::testing::Hex;
using mms::testing::LoadsSoFar;

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

TEST_F(CodePage, Utf8RoundTripsBeyondTheBasicPlane) {
  std::wstring text =
      std::wstring(L"Subject \u00E9 ") + kChinese + L" \U0001F600";
  std::string utf8 = ToNarrow(CP_UTF8, text);
  EXPECT_EQ(utf8.substr(0, 8), "Subject ");
  EXPECT_EQ(utf8.substr(utf8.size() - 4), "\xF0\x9F\x98\x80");
  EXPECT_EQ(ToWide(CP_UTF8, utf8), text);
}

TEST_F(CodePage, MinusOneCountsTheTerminator) {
  // "中a" in GBK, terminated.
  const char gbk[] =
      "\xd6\xd0"
      "a";
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, nullptr, 0), 3);
  wchar_t wide[8];
  wmemset(wide, L'#', 8);
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, wide, 8), 3);
  EXPECT_EQ(std::wstring(wide), L"\u4E2Da");

  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u4E2Da", -1, nullptr, 0, nullptr,
                                nullptr),
            5);
  char narrow[8];
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u4E2Da", -1, narrow, 8, nullptr,
                                nullptr),
            5);
  EXPECT_STREQ(narrow,
               "\xE4\xB8\xAD"
               "a");

  // An explicit length converts exactly that much, without a terminator.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, 2, wide, 8), 1);
  EXPECT_EQ(wide[0], L'\u4E2D');
}

TEST_F(CodePage, TooSmallOutputFailsWithInsufficientBuffer) {
  wchar_t wide[2];
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char narrow[4];
  SetLastError(ERROR_SUCCESS);
  // Two Chinese characters need four GBK bytes.
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, kChinese, 2, narrow, 3, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, kChinese, 2, narrow, 4, nullptr, nullptr),
      4);
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

TEST_F(CodePage, CodePageThatDoesNotExistIsRefusedEveryTime) {
  wchar_t wide[8];
  char narrow[8];
  for (int round = 0; round < 2; ++round) {  // the refusal is remembered
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(MultiByteToWideChar(40000, 0, "abc", -1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(
        WideCharToMultiByte(40000, 0, L"abc", -1, narrow, 8, nullptr, nullptr),
        0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  setenv("MMS_ACP", "40000", 1);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
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

int GconvMappings() {
  std::ifstream maps("/proc/self/maps");
  int count = 0;
  for (std::string line; std::getline(maps, line);) {
    count += line.find("/gconv/") != std::string::npos ? 1 : 0;
  }
  return count;
}

TEST_F(CodePage, FreshThreadLoadsNoConverterModule) {
  // The process's first conversions load the GBK and UTF-32 modules.
  EXPECT_EQ(ToWide(CP_ACP, ToNarrow(CP_ACP, kChinese)), kChinese);
  EXPECT_EQ(ToWide(CP_UTF8, ToNarrow(CP_UTF8, kChinese)), kChinese);
  const unsigned long long loads = LoadsSoFar();
  const int mapped = GconvMappings();
  EXPECT_GT(mapped, 0) << "the modules stay loaded between conversions";

  std::thread fresh([] {
    EXPECT_EQ(ToWide(CP_ACP, ToNarrow(CP_ACP, kChinese)), kChinese);
    EXPECT_EQ(ToWide(CP_UTF8, ToNarrow(CP_UTF8, kChinese)), kChinese);
  });
  fresh.join();
  EXPECT_EQ(LoadsSoFar(), loads);
  EXPECT_EQ(GconvMappings(), mapped);
}

}  // namespace
