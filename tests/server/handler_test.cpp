// The handler as Explorer drives it: created through its registration in a host process of its
// own (tools/shell_host.exe), initialised with real shell data objects; what it logged is read
// from the debugger output stream.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/module_copy.h"
#include "tests/support/temp_dir.h"

namespace {

const char kConfig[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<configure>\n"
    "    <version>1.0</version>\n"
    "    <description>test settings</description>\n"
    "    <command_line>cmd.exe /k __PROMPT__</command_line>\n"
    "    <log_level>1</log_level>\n"
    "    <python><path>C:\\Python38\\python.exe</path><version>3.8</version><bits>64</bits>"
    "</python>\n"
    "</configure>\n";

// Pointers other than null differ from run to run.
std::vector<std::string> Normalized(const std::vector<std::string>& lines) {
  static const std::regex pointer("=(?!0{16})[0-9A-F]{16}\\)");
  std::vector<std::string> out;
  for (const std::string& line : lines) out.push_back(std::regex_replace(line, pointer, "=PTR)"));
  return out;
}

class HandlerTest : public ::testing::Test {
 protected:
  HandlerTest() : sample_(L"sample") {}

  void SetUp() override {
    ASSERT_TRUE(copy_.copied());
    ASSERT_TRUE(copy_.WriteConfig(kConfig));
    ASSERT_EQ(copy_.Register(), 0u);
    file_ = sample_.path() + L"\\main.py";
    folder_ = sample_.path() + L"\\pkg";
    ASSERT_TRUE(WriteTextFile(file_, "print('hello')\n"));
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  }

  CapturedRun Host(const std::wstring& steps) {
    CapturedRun run = RunUnderDebugger(L"\"" + ProgramFolder() + L"\\shell_host.exe\" " + steps);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    return run;
  }

  static std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

  // The banner and the configuration dump of one Initialize with kConfig loaded.
  std::vector<std::string> Dump(const char* loaded = "1", const char* level = "1") const {
    return {"Velmar:[MESSAGE]==========Velmar DLL Initialize==========",
            "Velmar:[INFO]cfg:" + Ascii(copy_.config_path()),
            std::string("Velmar:[INFO]cfg.load.success:") + loaded,
            "Velmar:[INFO]cfg.description:test settings",
            "Velmar:[INFO]cfg.version:1.0",
            "Velmar:[INFO]cfg.command_line:cmd.exe /k __PROMPT__",
            std::string("Velmar:[INFO]cfg.log_level:") + level,
            "Velmar:[INFO]DLL.version:0.1"};
  }

  static std::vector<std::string> Selection(const std::wstring& file, const std::wstring& path) {
    return {"Velmar:[DEBUG]m_szFile=" + Ascii(file), "Velmar:[DEBUG]m_szFilePath=" + Ascii(path)};
  }

  static void Append(std::vector<std::string>* lines, const std::vector<std::string>& more) {
    lines->insert(lines->end(), more.begin(), more.end());
  }

  ModuleCopy copy_;
  TempDir sample_;
  std::wstring file_;
  std::wstring folder_;
};

TEST_F(HandlerTest, BackgroundOfAFolder) {
  CapturedRun run = Host(L"background " + Quoted(sample_.path()));
  EXPECT_EQ(run.output, "create=0x00000000\nbackground=0x00000000\n");
  std::vector<std::string> expected = Dump();
  expected.push_back("Velmar:[DEBUG]CExtensionsShellEx::Initialize(pidlFolder=PTR)");
  Append(&expected, Selection(sample_.path(), sample_.path()));
  expected.push_back("Velmar:[DEBUG]CExtensionsShellEx::Initialize(pDataObj=0000000000000000)");
  EXPECT_EQ(Normalized(run.debug_lines), expected);
}

TEST_F(HandlerTest, OneFileStartsInItsFolder) {
  CapturedRun run = Host(L"select 1 " + Quoted(file_));
  EXPECT_EQ(run.output, "create=0x00000000\nselect=0x00000000\n");
  std::vector<std::string> expected = Dump();
  expected.push_back("Velmar:[DEBUG]CExtensionsShellEx::Initialize(pidlFolder=PTR)");
  Append(&expected, Selection(sample_.path(), sample_.path()));
  expected.push_back("Velmar:[DEBUG]CExtensionsShellEx::Initialize(pDataObj=PTR)");
  expected.push_back("Velmar:[DEBUG]uNumFiles=1");
  Append(&expected, Selection(file_, sample_.path()));
  EXPECT_EQ(Normalized(run.debug_lines), expected);
}

TEST_F(HandlerTest, OneFolderStartsInItself) {
  CapturedRun run = Host(L"select 1 " + Quoted(folder_));
  EXPECT_EQ(run.output, "create=0x00000000\nselect=0x00000000\n");
  std::vector<std::string> lines = run.debug_lines;
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()), Selection(folder_, folder_));
}

TEST_F(HandlerTest, TwoItemsAreRefused) {
  CapturedRun run = Host(L"select 2 " + Quoted(file_) + L" " + Quoted(folder_));
  EXPECT_EQ(run.output, "create=0x00000000\nselect=0x80070057\n");
  std::vector<std::string> lines = run.debug_lines;
  ASSERT_GE(lines.size(), 3u);
  std::vector<std::string> tail = {"Velmar:[DEBUG]uNumFiles=2"};
  Append(&tail, Selection(sample_.path(), sample_.path()));
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), tail);
}

TEST_F(HandlerTest, FileAtADriveRootKeepsTheRootsBackslash) {
  std::wstring root_file = L"C:\\velmar-root-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  ASSERT_TRUE(WriteTextFile(root_file, "x"));
  CapturedRun run = Host(L"select 1 " + Quoted(root_file));
  DeleteFileW(root_file.c_str());
  EXPECT_EQ(run.output, "create=0x00000000\nselect=0x00000000\n");
  std::vector<std::string> lines = run.debug_lines;
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()), Selection(root_file, L"C:\\"));
}

// A path too long for the handler's arrays would come back cut and name another folder: the
// selection is refused and no part of the path is kept.
TEST_F(HandlerTest, PathLongerThanTheLimitIsRefusedNotCut) {
  std::wstring deep = sample_.path();
  while (deep.size() < 300) {
    deep += L"\\a-rather-long-folder-name";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
  }
  std::wstring long_file = deep + L"\\main.py";
  ASSERT_TRUE(WriteTextFile(L"\\\\?\\" + long_file, "x"));
  CapturedRun run = Host(L"droplist 1 " + Quoted(long_file));
  EXPECT_EQ(run.output, "create=0x00000000\ndroplist=0x80070057\n");
  std::vector<std::string> lines = run.debug_lines;
  ASSERT_GE(lines.size(), 4u);
  std::vector<std::string> tail = {
      "Velmar:[DEBUG]uNumFiles=1",
      "Velmar:[ERROR]Selected path too long: " + std::to_string(long_file.size()) + " characters"};
  Append(&tail, Selection(L"", L""));
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()), tail);
}

// Each Initialize reloads the settings; a failed load keeps the record of the last good one,
// logs it, and puts the threshold back to INFO, which silences the trace lines.
TEST_F(HandlerTest, SecondInitializeReloadsTheSettings) {
  CapturedRun run = Host(L"background " + Quoted(sample_.path()) + L" delete " +
                         Quoted(copy_.config_path()) + L" background " + Quoted(folder_));
  EXPECT_EQ(run.output,
            "create=0x00000000\nbackground=0x00000000\ndelete=0x00000000\n"
            "background=0x00000000\n");
  std::vector<std::string> expected = Dump();
  expected.push_back("Velmar:[DEBUG]CExtensionsShellEx::Initialize(pidlFolder=PTR)");
  Append(&expected, Selection(sample_.path(), sample_.path()));
  expected.push_back("Velmar:[DEBUG]CExtensionsShellEx::Initialize(pDataObj=0000000000000000)");
  Append(&expected, Dump("0", "1"));
  EXPECT_EQ(Normalized(run.debug_lines), expected);
}

TEST_F(HandlerTest, WithoutSettingsTheThresholdIsInfo) {
  ASSERT_TRUE(DeleteFileW(copy_.config_path().c_str()));
  CapturedRun run = Host(L"select 1 " + Quoted(file_));
  EXPECT_EQ(run.output, "create=0x00000000\nselect=0x00000000\n");
  std::vector<std::string> expected = {"Velmar:[MESSAGE]==========Velmar DLL Initialize==========",
                                       "Velmar:[INFO]cfg:" + Ascii(copy_.config_path()),
                                       "Velmar:[INFO]cfg.load.success:0",
                                       "Velmar:[INFO]cfg.description:",
                                       "Velmar:[INFO]cfg.version:",
                                       "Velmar:[INFO]cfg.command_line:",
                                       "Velmar:[INFO]cfg.log_level:4",
                                       "Velmar:[INFO]DLL.version:0.1"};
  EXPECT_EQ(run.debug_lines, expected);
}

TEST_F(HandlerTest, SettingsWithoutALevelUseInfo) {
  ASSERT_TRUE(copy_.WriteConfig("<configure><version>2</version></configure>"));
  CapturedRun run = Host(L"select 1 " + Quoted(file_) + L" new select 1 " + Quoted(file_));
  ASSERT_EQ(run.debug_lines.size(), 16u);  // two dumps, no trace lines
  EXPECT_EQ(run.debug_lines[2], "Velmar:[INFO]cfg.load.success:1");
  EXPECT_EQ(run.debug_lines[6], "Velmar:[INFO]cfg.log_level:4");
}

// A folder's background, a file and a folder get the same menu; a second query on the same
// menu adds nothing, and the companion application's absence is logged.
TEST_F(HandlerTest, EveryKindOfRightClickGetsTheSameMenu) {
  const std::string menu =
      "menu=0x00000003\n"
      "  id=101 \"Python here\" data=module bitmap=16x16x32\n"
      "    id=102 \"Python 3.8 64\" data=module bitmap=none\n";
  for (const std::wstring& step : {L"background " + Quoted(sample_.path()),
                                   L"select 1 " + Quoted(file_), L"select 1 " + Quoted(folder_)}) {
    CapturedRun run = Host(step + L" menu again");
    std::string kind = step.substr(0, step.find(L' ')) == L"background" ? "background" : "select";
    EXPECT_EQ(run.output, "create=0x00000000\n" + kind + "=0x00000000\n" + menu +
                              "again=0x00000000\n" + menu.substr(menu.find('\n') + 1));
    std::vector<std::string> lines = run.debug_lines;
    ASSERT_GE(lines.size(), 5u);
    std::vector<std::string> tail = {
        "Velmar:[DEBUG]CExtensionsShellEx::QueryContextMenu(menuIndex=0,uidLastCmd=32767,uFlags=0)",
        "Velmar:[DEBUG]configure.config.python.size():1",
        "Velmar:[DEBUG]VelmarPath:" + Ascii(copy_.folder()) + "\\Velmar.exe not found!",
        "Velmar:[DEBUG]CExtensionsShellEx::QueryContextMenu(menuIndex=0,uidLastCmd=32767,uFlags=0)",
        "Velmar:[DEBUG]Menu already added"};
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()), tail);
  }
}

// Installed under a folder whose name the ANSI code page cannot hold, the handler still
// finds its settings.
TEST_F(HandlerTest, ModuleFolderOutsideTheAnsiCodePage) {
  ModuleCopy other(L"\u6a21\u5757-velmar");
  ASSERT_TRUE(other.copied());
  ASSERT_TRUE(other.WriteConfig(kConfig));
  ASSERT_EQ(other.Register(), 0u);
  CapturedRun run = Host(L"background " + Quoted(sample_.path()));
  ASSERT_GE(run.debug_lines.size(), 3u);
  EXPECT_EQ(run.debug_lines[1], "Velmar:[INFO]cfg:" + Ascii(other.config_path()));
  EXPECT_EQ(run.debug_lines[2], "Velmar:[INFO]cfg.load.success:1");
}

}  // namespace
