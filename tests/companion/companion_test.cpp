// The companion's command-line mode (Detect itself: the detect_sources scenario).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/detect.h"
#include "tools/explorer/child_process.h"
#include "tools/explorer/module_copy.h"
#include "tools/explorer/temp_dir.h"

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// A folder holding the interpreter stand-in as python.exe, answering with `version`.
std::wstring Interpreter(const std::wstring& folder, const std::string& version) {
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring path = folder + L"\\python.exe";
  CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(), path.c_str(), FALSE);
  WriteTextFile(folder + L"\\standin.cfg", "version=" + version + "\nbits=64\n");
  return path;
}

// Velmar.exe --detect --save, then --list, and the DLL beside it shows what was saved.
TEST(CompanionCommandLine, DetectSaveListAndTheMenuShowsThem) {
  ModuleCopy copy(L"companion");
  ASSERT_TRUE(copy.copied());
  std::wstring velmar = copy.folder() + L"\\Velmar.exe";
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\Velmar.exe").c_str(), velmar.c_str(), FALSE));
  ASSERT_TRUE(
      copy.WriteConfig("<configure><command_line>cmd.exe /k __PROMPT__</command_line>"
                       "<log_level>4</log_level><project_env>1</project_env></configure>"));
  TempDir place(L"companion-path");
  std::wstring python = Interpreter(place.path() + L"\\py", "3.12.1");

  wchar_t saved_path[32768] = {};
  GetEnvironmentVariableW(L"PATH", saved_path, 32768);
  SetEnvironmentVariableW(L"PATH", (place.path() + L"\\py;" + saved_path).c_str());
  CapturedRun detect = RunUnderDebugger(Quoted(velmar) + L" --detect --save");
  SetEnvironmentVariableW(L"PATH", saved_path);
  EXPECT_EQ(detect.exit_code, 0u) << detect.output;
  EXPECT_EQ(detect.output, Ascii(python) + "|3.13.0|64|\r\n");  // its recorded version
  Configure saved;
  ASSERT_TRUE(saved.load(copy.config_path()));
  EXPECT_TRUE(saved.config.project_env) << "Detect + Save kept the switch";

  CapturedRun list = RunUnderDebugger(Quoted(velmar) + L" --list");
  EXPECT_EQ(list.exit_code, 0u);
  EXPECT_EQ(list.output, detect.output);
  CapturedRun wrong = RunUnderDebugger(Quoted(velmar) + L" --save");
  EXPECT_EQ(wrong.exit_code, 2u);
  EXPECT_EQ(wrong.output,
            "Velmar: usage: Velmar.exe --list | --detect [--save] | --install-settings | "
            "--uninstall-settings | --register-package [PACKAGE] | --unregister-package "
            "[--all-users] | --register-user | --unregister-user\r\n");

  ASSERT_EQ(copy.Register(), 0u);
  CapturedRun menu = RunUnderDebugger(Quoted(ProgramFolder() + L"\\shell_host.exe") +
                                      L" background " + Quoted(place.path()) + L" menu");
  EXPECT_NE(menu.output.find("    id=102 \"Python 3.13.0 64\" data=module bitmap=#2 16x16x32 "),
            std::string::npos)
      << menu.output;
  EXPECT_NE(menu.output.find("    id=103 \"Open Velmar\" data=module bitmap=#1 16x16x32 "),
            std::string::npos)
      << menu.output;
}

TEST(CompanionCommandLine, AnUnreadableConfigurationIsNeverOverwritten) {
  TempDir folder(L"companion-broken");
  std::wstring velmar = folder.path() + L"\\Velmar.exe";
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\Velmar.exe").c_str(), velmar.c_str(), FALSE));
  const std::string broken = "<configure><python><path>C:\\half written";
  ASSERT_TRUE(WriteTextFile(folder.path() + L"\\config.cfg", broken));
  CapturedRun run = RunUnderDebugger(Quoted(velmar) + L" --detect --save");
  EXPECT_EQ(run.exit_code, 1u);
  EXPECT_EQ(run.output, "Velmar: cannot read " + Ascii(folder.path()) + "\\config.cfg\r\n");
  EXPECT_EQ(ReadTextFile(folder.path() + L"\\config.cfg"), broken);
}

}  // namespace
