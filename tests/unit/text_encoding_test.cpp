#include <windows.h>

#include <gtest/gtest.h>

#include "common/classic_text.h"
#include "common/recent_map.h"
#include "common/text_encoding.h"

namespace {

TEST(TextEncoding, ToWide) {
  EXPECT_EQ(to_wide("", CP_ACP), L"");
  EXPECT_EQ(to_wide("python.exe", CP_ACP), L"python.exe");
  EXPECT_EQ(to_wide("caf\xe9 \x80", CP_ACP), L"caf\u00e9 \u20ac");
  EXPECT_EQ(to_wide("\xef\xbb\xbfprompt", CP_UTF8), L"prompt");  // byte order mark dropped
  EXPECT_EQ(to_wide(std::string("ab\0cd", 5), CP_ACP), L"ab");   // ends at the first zero
  EXPECT_EQ(to_wide("\xe4\xb8\xad", CP_UTF8), L"\u4e2d");
}

TEST(TextEncoding, ToNarrow) {
  EXPECT_EQ(to_narrow(L"", CP_ACP), "");
  EXPECT_EQ(to_narrow(L"C:\\Python38\\python.exe", CP_ACP), "C:\\Python38\\python.exe");
  EXPECT_EQ(to_narrow(L"caf\u00e9", CP_ACP), "caf\xe9");
  // Not in the ANSI code page: the default character takes its place.
  EXPECT_EQ(to_narrow(L"C:\\\u6a21\u5757", CP_ACP), "C:\\??");
  EXPECT_EQ(to_narrow(std::wstring(L"a\0b", 3), CP_ACP), "a");
  EXPECT_EQ(to_narrow(L"\u4e2d", CP_UTF8), "\xe4\xb8\xad");
}

}  // namespace

// White space and letter case as the C runtime's classic rules have them, which the version
// output, pyvenv.cfg and the environment's names are read with.
TEST(ClassicText, TrimsComparesAndErasesWithoutCase) {
  EXPECT_EQ(TrimCopy(L" \t3.12.1 \r\n"), L"3.12.1");
  EXPECT_EQ(TrimCopy(L" \t "), L"");
  EXPECT_EQ(TrimLeftCopy(L"  /k x "), L"/k x ");
  EXPECT_EQ(UpperCopy(L"Path=c:\\x"), L"PATH=C:\\X");
  EXPECT_TRUE(EqualsNoCase(L"Scripts", L"SCRIPTS"));
  EXPECT_FALSE(EqualsNoCase(L"Scripts", L"Script"));
  EXPECT_EQ(EraseFirstNoCase(L"x prompt=(a) PROMPT=(b)", L"PROMPT=("), L"x a) PROMPT=(b)");
  EXPECT_EQ(EraseFirstNoCase(L"abc", L"d"), L"abc");
}

// A bounded cache keeps its limit, and what goes first is what was used longest ago.
TEST(RecentMap, PushesOutTheLeastRecentlyUsed) {
  RecentMap<int, int> map(3);
  for (int key = 1; key <= 3; ++key) map.Keep(key, key * 10);
  ASSERT_NE(map.Find(1), nullptr);  // 1 is now the most recent, 2 the oldest
  const std::optional<int> pushed_out = map.Keep(4, 40);
  ASSERT_TRUE(pushed_out.has_value());
  EXPECT_EQ(*pushed_out, 20);
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map.Find(2), nullptr);
  ASSERT_NE(map.Find(1), nullptr);
  EXPECT_EQ(*map.Find(1), 10);
  EXPECT_FALSE(map.Keep(3, 33).has_value());  // replacing one pushes nothing out
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(*map.Find(3), 33);
  EXPECT_NE(map.Find(4), nullptr);
}
