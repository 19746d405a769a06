// From the menu to the console: the host chooses an item, the handler probes the interpreter
// (the stand-in, in a virtual environment) and starts the console (the console stand-in, or
// Wine's cmd.exe running it); "Open Velmar" starts the companion in the right-clicked folder.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/console_record.h"
#include "tests/support/module_copy.h"
#include "tests/support/shell_host.h"
#include "tests/support/temp_dir.h"

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() : sample_(L"project"), envs_(L"envs"), scratch_(L"record") {}

  void SetUp() override {
    ASSERT_TRUE(copy_.copied());
    console_ = ProgramFolder() + L"\\console_standin.exe";
    // A virtual environment whose interpreter is the stand-in.
    std::wstring env = envs_.path() + L"\\proj";
    scripts_ = env + L"\\Scripts";
    ASSERT_TRUE(CreateDirectoryW(env.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(scripts_.c_str(), nullptr));
    python_ = scripts_ + L"\\python.exe";
    ASSERT_TRUE(
        CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(), python_.c_str(), FALSE));
    ASSERT_TRUE(WriteTextFile(scripts_ + L"\\standin.cfg", "version=3.12.1\nbits=64\n"));
    ASSERT_TRUE(WriteTextFile(env + L"\\pyvenv.cfg", "home = C:\\Python312\nprompt = 'proj'\n"));
    ASSERT_TRUE(CopyFileW(console_.c_str(), (copy_.folder() + L"\\Velmar.exe").c_str(), FALSE));
    record_ = scratch_.path() + L"\\record.txt";
    SetEnvironmentVariableW(L"VELMAR_CONSOLE_RECORD", record_.c_str());  // the host inherits it
  }
  void TearDown() override { SetEnvironmentVariableW(L"VELMAR_CONSOLE_RECORD", nullptr); }

  void Configure(const std::wstring& command_line) {
    ASSERT_TRUE(copy_.WriteConfig("<configure><log_level>1</log_level><command_line>" +
                                  Ascii(command_line) + "</command_line><python><path>" +
                                  Ascii(python_) +
                                  "</path><version>3.12</version><bits>64</bits></python>"
                                  "</configure>"));
    ASSERT_EQ(copy_.Register(), 0u);
  }

  CapturedRun Host(const std::wstring& steps) {
    return RunUnderDebugger(Quoted(ProgramFolder() + L"\\shell_host.exe") + L" background " +
                            Quoted(sample_.path()) + L" menu " + steps);
  }

  static bool HasLine(const CapturedRun& run, const std::string& line) {
    for (const std::string& text : run.debug_lines)
      if (text == line) return true;
    return false;
  }

  ModuleCopy copy_;
  TempDir sample_, envs_, scratch_;
  std::wstring console_, scripts_, python_, record_;
};

TEST_F(DispatchTest, ChoosingAnInterpreterOpensItsConsole) {
  Configure(Quoted(console_) + L" /k __PROMPT__");
  CapturedRun run = Host(L"invoke 2");
  EXPECT_NE(run.output.find("invoke=0x00000000"), std::string::npos) << run.output;
  std::string record = WaitForRecord(record_);
  EXPECT_EQ(RecordLine(record, "exe"), Ascii(console_));
  EXPECT_EQ(RecordLine(record, "cwd"), Ascii(sample_.path()));
  EXPECT_EQ(RecordLine(record, "cmdline"),
            "\"" + Ascii(console_) + "\" /k set PROMPT=(proj^|3.12.1 64) %PROMPT%");
  std::string prefix = Ascii(scripts_ + L";" + scripts_ + L"\\Scripts;");
  EXPECT_EQ(RecordLine(record, "PATH").substr(0, prefix.size()), prefix);
  EXPECT_TRUE(HasLine(run, "Velmar:[DEBUG]InvokeCommand: " + Ascii(python_) + "\n"));
}

TEST_F(DispatchTest, CmdShowsTheEnvironmentVersionAndWidth) {
  Configure(L"cmd.exe /c __PROMPT__ & " + Quoted(console_));
  CapturedRun run = Host(L"invoke 2");
  EXPECT_NE(run.output.find("invoke=0x00000000"), std::string::npos) << run.output;
  std::string record = WaitForRecord(record_);
  EXPECT_EQ(RecordLine(record, "PROMPT").substr(0, 17), "(proj|3.12.1 64) ");
  EXPECT_EQ(RecordLine(record, "cwd"), Ascii(sample_.path()));
}

TEST_F(DispatchTest, OpenVelmarStartsTheCompanionInTheFolder) {
  Configure(Quoted(console_) + L" __PROMPT__");
  CapturedRun run = Host(L"invoke 3");
  EXPECT_NE(run.output.find("invoke=0x00000000"), std::string::npos) << run.output;
  std::string record = WaitForRecord(record_);
  EXPECT_EQ(RecordLine(record, "exe"), Ascii(copy_.folder() + L"\\Velmar.exe"));
  EXPECT_EQ(RecordLine(record, "cwd"), Ascii(sample_.path()));
}

TEST_F(DispatchTest, OnlyTheHandlersOwnCommandsRun) {
  Configure(Quoted(console_) + L" __PROMPT__");
  CapturedRun run = Host(L"invoke 1 invoke 4 invoke-verb open");
  EXPECT_NE(run.output.find("invoke=0x80070057\ninvoke=0x80070057\ninvoke=0x80070057\n"),
            std::string::npos)
      << run.output;
  EXPECT_TRUE(HasLine(run, "Velmar:[DEBUG]can not find command!\n"));
  EXPECT_TRUE(
      HasLine(run, "Velmar:[DEBUG]if (pCmdInfo == NULL || 0 != HIWORD(pCmdInfo->lpVerb))\n"));
  Sleep(300);
  EXPECT_EQ(ReadTextFile(record_), "");
}

TEST(CommandString, HelpTextForOffsetZeroOnly) {
  ModuleCopy copy;
  ASSERT_EQ(copy.Register(), 0u);
  ShellHost host;
  ComPtr<IShellExtInit> init;
  ASSERT_EQ(host.CreateHandler(&init), S_OK);
  ComPtr<IContextMenu> menu;
  ASSERT_EQ(init.As(IID_IContextMenu, &menu), S_OK);
  wchar_t wide[64];
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 5),
            S_OK);
  EXPECT_STREQ(wide, L"Git ");
  EXPECT_EQ(menu->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(wide), 64), S_OK);
  EXPECT_STREQ(wide, L"Git shell extensions");
  char narrow[64];
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 64), S_OK);
  EXPECT_STREQ(narrow, "Git shell extensions");
  EXPECT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, narrow, 64), E_INVALIDARG);
  wcscpy(wide, L"untouched");
  EXPECT_EQ(menu->GetCommandString(2, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 64),
            E_INVALIDARG);
  EXPECT_STREQ(wide, L"untouched");
}

}  // namespace
