#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "tests/support/debug_string_capture.h"

namespace {

// The logger is linked into this program, so its lines are captured exactly.
std::vector<std::wstring>& g_lines = CapturedDebugLines();

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    log_set_level(LOG_INFO);
  }
  void TearDown() override { log_set_level(LOG_INFO); }
};

TEST_F(LoggerTest, InitialThresholdSendsInfoAndAboveOnly) {
  for (int level = 0; level <= 7; ++level) log_write(level, L"line %d", level);
  std::vector<std::wstring> expected = {L"Velmar:[INFO]line 4", L"Velmar:[WARNING]line 5",
                                        L"Velmar:[]line 6", L"Velmar:[MESSAGE]line 7"};
  EXPECT_EQ(g_lines, expected);
}

TEST_F(LoggerTest, ThresholdIsInclusiveAndMessageLevelAlwaysPasses) {
  log_set_level(LOG_DEBUG);
  log_write(LOG_DEBUG, L"debug");
  log_write(LOG_ALL, L"all");
  log_set_level(LOG_ALL);
  log_write(LOG_ALL, L"all");
  log_set_level(100);
  log_write(LOG_MESSAGE, L"banner");
  log_write(99, L"below");
  log_write(100, L"at");
  log_write(LOG_WARNING, L"warning");
  std::vector<std::wstring> expected = {L"Velmar:[DEBUG]debug", L"Velmar:[ALL]all",
                                        L"Velmar:[MESSAGE]banner", L"Velmar:[INFO]at"};
  EXPECT_EQ(g_lines, expected);
  EXPECT_EQ(log_get_level(), 100);
}

TEST_F(LoggerTest, LevelsOutsideTheNameTableAreNamedInfo) {
  log_set_level(-10);
  log_write(8, L"eight");
  log_write(12, L"twelve");
  log_write(-3, L"negative");
  std::vector<std::wstring> expected = {L"Velmar:[INFO]eight", L"Velmar:[INFO]twelve",
                                        L"Velmar:[INFO]negative"};
  EXPECT_EQ(g_lines, expected);
}

// Microsoft's meaning in a wide format: %s wide, %S narrow, whatever the C99 printf family of
// the MinGW runtime would make of them.
TEST_F(LoggerTest, FormatsFollowMicrosoftsWideConventions) {
  log_write(LOG_INFO, L"%s|%S|%d|%u|%p", L"w\u00e9\u4e2d", "narrow", -7, 4000000000u,
            reinterpret_cast<void*>(0x1234));
  log_write(LOG_INFO, L"%S", "caf\xe9");  // widened byte by byte
  ASSERT_EQ(g_lines.size(), 2u);
  EXPECT_EQ(g_lines[0], L"Velmar:[INFO]w\u00e9\u4e2d|narrow|-7|4000000000|0000000000001234");
  EXPECT_EQ(g_lines[1], L"Velmar:[INFO]caf\u00e9");
}

TEST_F(LoggerTest, LineFeedOnlyWhenTheFormatHasOne) {
  log_write(LOG_INFO, L"InvokeCommand: %s\n", L"C:\\Python\\python.exe");
  log_write(LOG_INFO, L"no feed");
  ASSERT_EQ(g_lines.size(), 2u);
  EXPECT_EQ(g_lines[0], L"Velmar:[INFO]InvokeCommand: C:\\Python\\python.exe\n");
  EXPECT_EQ(g_lines[1], L"Velmar:[INFO]no feed");
}

TEST_F(LoggerTest, LinesAreCutAt1022Characters) {
  const std::wstring header = L"Velmar:[INFO]";
  const size_t room = kLogLineMax - header.size();
  std::wstring fits(room, L'a');
  std::wstring one_more(room + 1, L'b');
  std::wstring huge(5000, L'c');
  log_write(LOG_INFO, L"%s", fits.c_str());
  log_write(LOG_INFO, L"%s", one_more.c_str());
  log_write(LOG_INFO, L"%s", huge.c_str());
  log_write(LOG_INFO, huge.c_str());  // a long format without arguments
  ASSERT_EQ(g_lines.size(), 4u);
  EXPECT_EQ(g_lines[0], header + fits);
  EXPECT_EQ(g_lines[1], header + one_more.substr(0, room));
  EXPECT_EQ(g_lines[2], header + huge.substr(0, room));
  EXPECT_EQ(g_lines[3], g_lines[2]);
  for (const std::wstring& line : g_lines) EXPECT_LE(line.size(), 1022u);
}

}  // namespace
