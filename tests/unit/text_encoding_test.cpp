#include <windows.h>

#include <gtest/gtest.h>

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
