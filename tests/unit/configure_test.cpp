#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text_encoding.h"
#include "config/configure.h"
#include "log/log.h"
#include "tests/support/debug_string_capture.h"
#include "tools/explorer/temp_dir.h"

namespace {

class ConfigureTest : public ::testing::Test {
 protected:
  ConfigureTest() : folder_(L"config") {}

  std::wstring Path(const std::wstring& name) const { return folder_.path() + L"\\" + name; }

  // Loads `xml` from a file into a fresh configuration object.
  Config LoadText(const std::string& xml, bool* loaded = nullptr) {
    EXPECT_TRUE(WriteTextFile(Path(L"config.cfg"), xml));
    Configure configure;
    bool result = configure.load(Path(L"config.cfg"));
    if (loaded) *loaded = result;
    return configure.config;
  }

  TempDir folder_;
};

// A thousand interpreters load; a file no settings could fill (an attribute flood, whose parse
// time grows with its square, or anything past 512 KiB) is refused with a log line.
TEST_F(ConfigureTest, FilesOnlyAnAttackerWritesAreRefused) {
  std::string many = "<configure>";
  for (int i = 0; i < 1000; ++i)
    many += "<python><path>C:\\Python\\envs\\project-" + std::to_string(i) +
            "\\Scripts\\python.exe</path><version>3.12.1</version><bits>64</bits><desc>"
            "work</desc></python>";
  bool loaded = false;
  EXPECT_EQ(LoadText(many + "</configure>", &loaded).python.size(), 1000u);
  EXPECT_TRUE(loaded);
  std::string at_limit = "<configure";
  for (int i = 0; i < 1000; ++i) at_limit += " a" + std::to_string(i) + "=''";
  LoadText(at_limit + "/>", &loaded);
  EXPECT_TRUE(loaded) << "1,000 attributes are within the limit";
  std::string flood = "<configure a0=\"\"";
  for (int i = 1; i < 25000; ++i) flood += " a" + std::to_string(i) + "=''";
  CapturedDebugLines().clear();
  log_set_level(LOG_ERROR);
  LoadText(flood + "/>", &loaded);
  EXPECT_FALSE(loaded);
  LoadText("<configure><description>" + std::string(600 * 1024, 'x') + "</description></configure>",
           &loaded);
  EXPECT_FALSE(loaded);
  std::vector<std::wstring> expected = {L"Velmar:[ERROR]Settings file refused: 25000 attributes",
                                        L"Velmar:[ERROR]Settings file refused: 614450 bytes"};
  EXPECT_EQ(CapturedDebugLines(), expected);
  log_set_level(LOG_INFO);
}

TEST_F(ConfigureTest, SaveWritesTheDocumentedShape) {
  Configure configure;
  configure.config.version = "1.0";
  configure.config.description = "";
  configure.config.command_line = "cmd.exe /k __PROMPT__ & echo <ok>";
  configure.config.log_level = -2;
  configure.config.python = {{"C:\\Python38\\python.exe", "3.8", "64", "work"},
                             {"C:\\Python27\\python.exe", "2.7", "32", ""}};
  ASSERT_TRUE(configure.save(Path(L"saved.cfg")));
  // Text mode on Windows: every line ends in CR LF.
  EXPECT_EQ(ReadTextFile(Path(L"saved.cfg")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<configure>\r\n"
            "    <version>1.0</version>\r\n"
            "    <description></description>\r\n"
            "    <command_line>cmd.exe /k __PROMPT__ &amp; echo &lt;ok&gt;</command_line>\r\n"
            "    <log_level>-2</log_level>\r\n"
            "    <python>\r\n"
            "        <path>C:\\Python38\\python.exe</path>\r\n"
            "        <version>3.8</version>\r\n"
            "        <bits>64</bits>\r\n"
            "        <desc>work</desc>\r\n"
            "    </python>\r\n"
            "    <python>\r\n"
            "        <path>C:\\Python27\\python.exe</path>\r\n"
            "        <version>2.7</version>\r\n"
            "        <bits>32</bits>\r\n"
            "    </python>\r\n"
            "</configure>\r\n");

  EXPECT_FALSE(configure.save(Path(L"no-such-folder\\saved.cfg")));
  // A full disk shows only when the buffered text is flushed: that must count as a failure.
  EXPECT_FALSE(configure.save(L"Z:\\dev\\full"));
}

// A module installed under a folder whose name the ANSI code page cannot hold (a Chinese user
// name on a Western system) still finds its settings.
TEST_F(ConfigureTest, OpensPathsOutsideTheAnsiCodePage) {
  std::wstring folder = Path(L"\u7528\u6237-\u00e9");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  std::wstring path = folder + L"\\config.cfg";
  Configure written;
  written.config.version = "7";
  ASSERT_TRUE(written.save(path));
  Configure read;
  EXPECT_TRUE(read.load(path));
  EXPECT_EQ(read.config.version, "7");
  // The narrow form has lost the characters and names no file.
  EXPECT_FALSE(read.load(to_narrow(path, CP_ACP)));
}

}  // namespace
