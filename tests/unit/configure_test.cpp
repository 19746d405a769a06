#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "command/text_encoding.h"
#include "config/configure.h"
#include "log/log.h"
#include "tests/support/debug_string_capture.h"
#include "tests/support/temp_dir.h"

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

  int LevelOf(const std::string& element) {
    return LoadText("<configure>" + element + "</configure>").log_level;
  }

  TempDir folder_;
};

TEST_F(ConfigureTest, LoadsEveryField) {
  bool loaded = false;
  Config config = LoadText(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<configure>\n"
      "    <version>1.0</version>\n"
      "    <description>Velmar settings</description>\n"
      "    <command_line>cmd.exe /k __PROMPT__</command_line>\n"
      "    <log_level>1</log_level>\n"
      "    <python>\n"
      "        <path>C:\\Python38\\python.exe</path>\n"
      "        <version>3.8</version>\n"
      "        <bits>64</bits>\n"
      "        <desc>work</desc>\n"
      "    </python>\n"
      "    <python>\n"
      "        <path>C:\\Python27\\python.exe</path>\n"
      "        <version>2.7</version>\n"
      "        <bits>32</bits>\n"
      "    </python>\n"
      "</configure>\n",
      &loaded);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(config.version, "1.0");
  EXPECT_EQ(config.description, "Velmar settings");
  EXPECT_EQ(config.command_line, "cmd.exe /k __PROMPT__");
  EXPECT_EQ(config.log_level, 1);
  ASSERT_EQ(config.python.size(), 2u);
  EXPECT_EQ(config.python[0].path, "C:\\Python38\\python.exe");
  EXPECT_EQ(config.python[0].version, "3.8");
  EXPECT_EQ(config.python[0].bits, "64");
  EXPECT_EQ(config.python[0].desc, "work");
  EXPECT_EQ(config.python[1].path, "C:\\Python27\\python.exe");
  EXPECT_EQ(config.python[1].desc, "");
}

TEST_F(ConfigureTest, ElementsAreMatchedByExactNameAndOrder) {
  Config config;
  // The last occurrence wins; names are compared with case; unknown names are skipped.
  config = LoadText(
      "<configure><version>1</version><Version>x</Version><PYTHON/><other><python/></other>"
      "<version>2</version></configure>");
  EXPECT_EQ(config.version, "2");
  EXPECT_TRUE(config.python.empty());

  // Entries keep file order among other elements; an entry without children, or with
  // attributes only, has four empty fields.
  config = LoadText(
      "<configure><python><path>a</path></python><version>v</version><python/>"
      "<python path=\"b\" version=\"3\"/><python><path>c</path><path>d</path></python>"
      "</configure>");
  ASSERT_EQ(config.python.size(), 4u);
  EXPECT_EQ(config.python[0].path, "a");
  EXPECT_EQ(config.python[1].path, "");
  EXPECT_EQ(config.python[1].version, "");
  EXPECT_EQ(config.python[2].path, "");
  EXPECT_EQ(config.python[2].version, "");
  EXPECT_EQ(config.python[3].path, "d");
}

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

TEST_F(ConfigureTest, LogLevelText) {
  EXPECT_EQ(LevelOf("<log_level> 12abc</log_level>"), 12);
  EXPECT_EQ(LevelOf("<log_level>abc</log_level>"), 0);
  EXPECT_EQ(LevelOf("<log_level>-1</log_level>"), -1);
  EXPECT_EQ(LevelOf("<log_level>+7</log_level>"), 7);
  EXPECT_EQ(LevelOf("<log_level>99999999999</log_level>"), INT_MAX);
  EXPECT_EQ(LevelOf("<log_level>-99999999999</log_level>"), INT_MIN);
  // No element, or one without text: the logger's own initial threshold.
  EXPECT_EQ(LevelOf(""), 4);
  EXPECT_EQ(LevelOf("<log_level/>"), 4);
  EXPECT_EQ(LevelOf("<log_level>  </log_level>"), 4);
  EXPECT_EQ(LevelOf("<log_level><level>2</level></log_level>"), 4);
  EXPECT_EQ(LevelOf("<log_level><!-- 1 -->2</log_level>"), 2);
}

TEST_F(ConfigureTest, FailedLoadKeepsTheRecord) {
  Configure configure;
  ASSERT_TRUE(WriteTextFile(Path(L"good.cfg"),
                            "<configure><version>1</version><log_level>1</log_level>"
                            "<python><path>a</path></python></configure>"));
  ASSERT_TRUE(configure.load(Path(L"good.cfg")));

  ASSERT_TRUE(WriteTextFile(Path(L"empty.cfg"), ""));
  ASSERT_TRUE(WriteTextFile(Path(L"text.cfg"), "just text, no element"));
  ASSERT_TRUE(WriteTextFile(Path(L"unclosed.cfg"), "<configure><version>2</version>"));
  EXPECT_FALSE(configure.load(Path(L"missing.cfg")));
  EXPECT_FALSE(configure.load(Path(L"empty.cfg")));
  EXPECT_FALSE(configure.load(Path(L"text.cfg")));
  EXPECT_FALSE(configure.load(Path(L"unclosed.cfg")));
  EXPECT_FALSE(configure.load(folder_.path()));  // a folder
  EXPECT_FALSE(configure.load(std::wstring()));
  EXPECT_EQ(configure.config.version, "1");
  EXPECT_EQ(configure.config.log_level, 1);
  ASSERT_EQ(configure.config.python.size(), 1u);

  // A successful load replaces the record whole: entries never accumulate.
  ASSERT_TRUE(WriteTextFile(Path(L"other.cfg"),
                            "<configure><python><path>b</path></python>"
                            "<python><path>c</path></python></configure>"));
  ASSERT_TRUE(configure.load(Path(L"other.cfg")));
  EXPECT_EQ(configure.config.version, "");
  EXPECT_EQ(configure.config.log_level, 4);
  ASSERT_EQ(configure.config.python.size(), 2u);
  EXPECT_EQ(configure.config.python[0].path, "b");
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
