// The hidden runner, the interpreter probe, the virtual-environment name and the console launch,
// with the project's stand-ins for an interpreter and a console, and Wine's own cmd.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "command/command_utils.h"
#include "log/log.h"
#include "shellext/extensions_shell_ex.h"
#include "tests/support/child_process.h"
#include "tests/support/console_record.h"
#include "tests/support/debug_string_capture.h"
#include "tests/support/owners.h"
#include "tests/support/temp_dir.h"

namespace {

std::wstring Standin() { return ProgramFolder() + L"\\python_standin.exe"; }
std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Whether the process whose id a stand-in wrote into `pid_file` has ended (within 3 s).
bool ProcessEnded(const std::wstring& pid_file) {
  std::string text = ReadTextFile(pid_file);
  if (text.empty()) return false;
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, std::stoul(text)));
  return !process || WaitForSingleObject(process.get(), 3000) == WAIT_OBJECT_0;
}

class RunnerTest : public ::testing::Test {
 protected:
  RunnerTest() : folder_(L"runner") {}
  bool Run(const std::wstring& arguments, std::string* output, DWORD* code,
           DWORD timeout_ms = CommandUtils::kRunTimeoutMs, const EnvironmentMap& env = {},
           const std::wstring& work_dir = L"") {
    return CommandUtils::run_process(Quoted(Standin()) + L" " + arguments, env, work_dir, output,
                                     *code, timeout_ms);
  }
  TempDir folder_;
};

TEST_F(RunnerTest, CapturesBothStreamsAndTheExitCode) {
  std::string output;
  DWORD code = 0;
  ASSERT_TRUE(Run(L"--stdout out --stderr err --exit 7", &output, &code));
  EXPECT_EQ(output, "outerr");
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(
      CommandUtils::run_process(L"\"C:\\no\\such\\python.exe\" --version", {}, L"", &output, code));
}

TEST_F(RunnerTest, GivesTheEnvironmentFolderAndNullInput) {
  EnvironmentMap env;
  ASSERT_TRUE(CommandUtils::get_environment(env));
  EXPECT_TRUE(env.count(L"PATH"));
  env[L"VELMAR_PROBE"] = L"caf\u00e9 \u4e2d";
  std::string output;
  DWORD code = 1;
  ASSERT_TRUE(Run(L"--env VELMAR_PROBE --cwd --read-stdin", &output, &code,
                  CommandUtils::kRunTimeoutMs, env, folder_.path()));
  EXPECT_EQ(output,
            "caf\xc3\xa9 \xe4\xb8\xad\n" + std::string(Ascii(folder_.path())) + "\nstdin ended\n");
  EXPECT_EQ(code, 0u);
}

// A program that never ends is bounded, and it is ended, not left behind in Explorer.
TEST_F(RunnerTest, AHangingProgramIsEndedAtTheLimit) {
  std::wstring pid_file = folder_.path() + L"\\pid.txt";
  std::string output = "untouched";
  DWORD code = 12345;
  DWORD start = GetTickCount();
  EXPECT_FALSE(Run(L"--pid-file " + Quoted(pid_file) + L" --sleep 60000", &output, &code, 1500));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 1400u);
  EXPECT_LT(elapsed, 6000u);
  EXPECT_EQ(output, "untouched");
  EXPECT_EQ(code, 12345u);
  EXPECT_TRUE(ProcessEnded(pid_file));
}

// A process the child leaves behind holding the output does not keep the caller waiting, and
// does not outlive the run.
TEST_F(RunnerTest, AGrandchildHoldingTheOutputDoesNotHoldTheRun) {
  std::wstring pid_file = folder_.path() + L"\\grandchild.txt";
  std::string output;
  DWORD code = 1;
  DWORD start = GetTickCount();
  ASSERT_TRUE(Run(L"--grandchild " + Quoted(pid_file), &output, &code));
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_EQ(output, "parent done\n");
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(ProcessEnded(pid_file));
}

// Output without end neither outlasts the limit nor fills the host's memory: a child that writes
// for ever is ended at the limit, a grandchild that does after its parent ended is cut off at
// once, and only the first 64 KiB are kept.
TEST_F(RunnerTest, EndlessOutputIsBoundedInTimeAndMemory) {
  std::string output = "untouched";
  DWORD code = 12345;
  EXPECT_FALSE(Run(L"--flood", &output, &code, 1500));
  EXPECT_EQ(output, "untouched");
  std::wstring pid_file = folder_.path() + L"\\flooder.txt";
  ASSERT_TRUE(Run(L"--grandchild-flood " + Quoted(pid_file), &output, &code));
  EXPECT_LE(output.size(), 64u * 1024);
  EXPECT_EQ(output.substr(0, 12), "parent done\n");
  EXPECT_TRUE(ProcessEnded(pid_file));
  ASSERT_TRUE(Run(L"--print-bytes 3000000", &output, &code));
  EXPECT_EQ(output.size(), 64u * 1024);
}

TEST(DirName, FolderPart) {
  EXPECT_EQ(CommandUtils::dir_name(L"C:\\Py38\\python.exe"), L"C:\\Py38");
  EXPECT_EQ(CommandUtils::dir_name(L"C:/Py38/python.exe"), L"C:/Py38");
  EXPECT_EQ(CommandUtils::dir_name(L"python.exe"), L"");
  EXPECT_EQ(CommandUtils::python_path_prefix(L"C:\\Py38\\python.exe"),
            L"C:\\Py38;C:\\Py38\\Scripts;");
}

// The stand-in installed as python.exe in a folder of its own, with its answers.
class Interpreter {
 public:
  Interpreter(const std::string& settings, const std::wstring& sub = L"") : root_(L"interpreter") {
    folder_ = root_.path() + sub;
    if (!sub.empty()) CreateDirectoryW(folder_.c_str(), nullptr);
    path_ = folder_ + L"\\python.exe";
    CopyFileW(Standin().c_str(), path_.c_str(), FALSE);
    WriteTextFile(folder_ + L"\\standin.cfg", settings);
  }
  const std::wstring& path() const { return path_; }
  const std::wstring& folder() const { return folder_; }
  const std::wstring& root() const { return root_.path(); }

 private:
  TempDir root_;
  std::wstring folder_, path_;
};

struct Probe {
  bool ok;
  std::wstring version, bits;
};

Probe ProbeOf(const std::string& settings, DWORD timeout_ms = CommandUtils::kRunTimeoutMs) {
  Interpreter python(settings);
  Probe probe{false, L"", L""};
  probe.ok = CommandUtils::probe_python(python.path(), probe.version, probe.bits, timeout_ms);
  return probe;
}

TEST(ProbePython, AnswersOfCPython3And2) {
  Probe three = ProbeOf("version=3.12.1\nbits=64\n");
  EXPECT_TRUE(three.ok);
  EXPECT_EQ(three.version, L"3.12.1");
  EXPECT_EQ(three.bits, L"64");
  Probe two = ProbeOf("version=2.7.18\nbits=32\n");  // the version on stderr
  EXPECT_TRUE(two.ok);
  EXPECT_EQ(two.version, L"2.7.18");
  EXPECT_EQ(two.bits, L"32");
}

TEST(ProbePython, BadInterpretersGiveNoAnswerNotAWrongOne) {
  // The Store's alias stub: its message is no version.
  Probe store = ProbeOf("mode=store\n");
  EXPECT_FALSE(store.ok);
  EXPECT_EQ(store.version, L"");
  EXPECT_EQ(store.bits, L"");
  // Without the site module (embeddable distribution) the width still comes through.
  Probe nosite = ProbeOf("mode=nosite\nbits=32\n");
  EXPECT_TRUE(nosite.ok);
  EXPECT_EQ(nosite.bits, L"32");
  Probe nowidth = ProbeOf("mode=nowidth\n");
  EXPECT_FALSE(nowidth.ok);
  EXPECT_EQ(nowidth.version, L"3.12.1");
  EXPECT_EQ(nowidth.bits, L"");
  // A left-behind process does not stall the probe.
  Probe grandchild = ProbeOf("mode=grandchild\n");
  EXPECT_TRUE(grandchild.ok);
  EXPECT_EQ(grandchild.version, L"3.12.1");
  DWORD start = GetTickCount();
  Probe hang = ProbeOf("mode=hang\n", 1000);
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_FALSE(hang.ok);
  EXPECT_EQ(hang.version, L"");
  EXPECT_FALSE(CommandUtils::probe_python(L"C:\\no\\such\\python.exe", hang.version, hang.bits));
}

class VenvTest : public ::testing::Test {
 protected:
  VenvTest() : root_(L"venv") {}
  // An environment folder `name` with Scripts\python.exe (the file only).
  std::wstring MakeEnv(const std::wstring& name) {
    std::wstring env = root_.path() + L"\\" + name;
    CreateDirectoryW(env.c_str(), nullptr);
    CreateDirectoryW((env + L"\\Scripts").c_str(), nullptr);
    WriteTextFile(env + L"\\Scripts\\python.exe", "");
    return env;
  }
  std::wstring PromptOf(const std::wstring& env, bool* found = nullptr) {
    std::wstring prompt = L"stale";
    bool result = CommandUtils::get_venv_prompt(env + L"\\Scripts\\python.exe", prompt);
    if (found) *found = result;
    return prompt;
  }
  TempDir root_;
};

TEST_F(VenvTest, PyvenvCfgNamesTheEnvironment) {
  std::wstring quoted = MakeEnv(L"quoted");
  WriteTextFile(quoted + L"\\pyvenv.cfg", "home = C:\\Python312\nprompt = 'proj (dev)'\n");
  // The record wins over a script that names another environment.
  WriteTextFile(quoted + L"\\Scripts\\activate.bat", "set \"PROMPT=(other) %PROMPT%\"\r\n");
  EXPECT_EQ(PromptOf(quoted), L"proj (dev)");

  std::wstring plain = MakeEnv(L"plain-env");
  WriteTextFile(plain + L"\\pyvenv.cfg", "home = C:\\Python312\r\nversion = 3.12.1\r\n");
  EXPECT_EQ(PromptOf(plain), L"plain-env");

  std::wstring utf8 = MakeEnv(L"\u73af\u5883");  // a name the ANSI code page cannot hold
  WriteTextFile(utf8 + L"\\pyvenv.cfg", "prompt = \"caf\xc3\xa9\"\n");
  EXPECT_EQ(PromptOf(utf8), L"caf\u00e9");
}

TEST_F(VenvTest, ActivateBatWithoutARecord) {
  bool found = false;
  std::wstring legacy = MakeEnv(L"legacy");
  WriteTextFile(legacy + L"\\Scripts\\activate.bat",
                "@echo off\r\nset \"PROMPT=(old-name) %PROMPT%\"\r\nset PROMPT=(second)\r\n");
  EXPECT_EQ(PromptOf(legacy, &found), L"old-name");
  EXPECT_TRUE(found);
  WriteTextFile(legacy + L"\\Scripts\\activate.bat", "set prompt=(lower) %prompt%\r\n");
  EXPECT_EQ(PromptOf(legacy), L"lower");

  std::wstring variable = MakeEnv(L"variable");
  WriteTextFile(variable + L"\\Scripts\\activate.bat",
                "@set \"PROMPT=(%VIRTUAL_ENV_PROMPT%) %PROMPT%\"\r\n");
  EXPECT_EQ(PromptOf(variable, &found), L"");
  EXPECT_FALSE(found);

  std::wstring empty = MakeEnv(L"empty");
  WriteTextFile(empty + L"\\Scripts\\activate.bat", "set PROMPT=() %PROMPT%\r\n");
  EXPECT_EQ(PromptOf(empty, &found), L"");
  EXPECT_TRUE(found);

  std::wstring utf8 = MakeEnv(L"utf8");
  WriteTextFile(utf8 + L"\\Scripts\\activate.bat", "set PROMPT=(caf\xc3\xa9) %PROMPT%\r\n");
  EXPECT_EQ(PromptOf(utf8), L"caf\u00e9");
  std::wstring ansi = MakeEnv(L"ansi");
  WriteTextFile(ansi + L"\\Scripts\\activate.bat", "set PROMPT=(caf\xe9) %PROMPT%\r\n");
  EXPECT_EQ(PromptOf(ansi), L"caf\u00e9");

  // A hostile script: megabytes of an unclosed definition end in no name, not in a hang.
  std::wstring hostile = MakeEnv(L"hostile");
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "PROMPT=(xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
  WriteTextFile(hostile + L"\\Scripts\\activate.bat", text);
  EXPECT_EQ(PromptOf(hostile, &found), L"");
  EXPECT_FALSE(found);

  EXPECT_EQ(PromptOf(MakeEnv(L"none"), &found), L"");
  EXPECT_FALSE(found);
}

TEST(Prompt, PartsAreEscapedForCmdAndPrompt) {
  EXPECT_EQ(CExtensionsShellEx::ComposePrompt(L"", L"3.8.5", L"64"), L"3.8.5 64");
  EXPECT_EQ(CExtensionsShellEx::ComposePrompt(L"venv1", L"3.8.5", L"64"), L"venv1^|3.8.5 64");
  EXPECT_EQ(CExtensionsShellEx::ComposePrompt(L"", L"", L""), L" ");
  EXPECT_EQ(CExtensionsShellEx::ComposePrompt(L"R&D|<x>^$", L"3.1&", L"64"),
            L"R^&D^|^<x^>^^$$^|3.1^& 64");
}

TEST(SplitCommandLine, ProgramUnquotedArgumentsAsWritten) {
  std::wstring program, arguments;
  ASSERT_TRUE(CommandUtils::split_command_line(
      L"\"C:\\Program Files\\PowerShell\\7\\pwsh.exe\" -NoExit -Command \"& 'a b'\"", program,
      arguments));
  EXPECT_EQ(program, L"C:\\Program Files\\PowerShell\\7\\pwsh.exe");
  EXPECT_EQ(arguments, L"-NoExit -Command \"& 'a b'\"");
  ASSERT_TRUE(CommandUtils::split_command_line(L"cmd.exe", program, arguments));
  EXPECT_EQ(program, L"cmd.exe");
  EXPECT_EQ(arguments, L"");
}

// The console launch, recorded by the console stand-in.
class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() : start_(L"start"), scratch_(L"scratch"), python_("") {}
  void SetUp() override {
    record_ = scratch_.path() + L"\\record.txt";
    SetEnvironmentVariableW(L"VELMAR_CONSOLE_RECORD", record_.c_str());
    CapturedDebugLines().clear();
  }
  void TearDown() override { SetEnvironmentVariableW(L"VELMAR_CONSOLE_RECORD", nullptr); }

  static std::wstring HostPath() {
    wchar_t buffer[32768] = {};
    GetEnvironmentVariableW(L"PATH", buffer, 32768);
    return buffer;
  }

  TempDir start_, scratch_;
  Interpreter python_;
  std::wstring record_;
};

TEST_F(ConsoleTest, FailuresLogAndRestorePath) {
  std::wstring before = HostPath();
  log_set_level(LOG_DEBUG);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"no-such-console.exe /k __PROMPT__",
                                          start_.path(), L"3.8.5 64"));
  EXPECT_EQ(HostPath(), before);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"  ", start_.path(), L""));
  EXPECT_EQ(HostPath(), before);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"\"C:\\no\\console.exe\" __PROMPT__",
                                          start_.path(), L""));
  EXPECT_EQ(HostPath(), before);
  // A host without PATH gets none back (not an empty one).
  SetEnvironmentVariableW(L"PATH", nullptr);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"  ", start_.path(), L""));
  EXPECT_EQ(GetEnvironmentVariableW(L"PATH", nullptr, 0), 0u);
  SetEnvironmentVariableW(L"PATH", before.c_str());
  log_set_level(LOG_INFO);

  std::vector<std::wstring> expected = {
      L"Velmar:[ERROR]Console program not found on PATH: no-such-console.exe",
      L"Velmar:[ERROR]CommandUtils::split_command_line fail",
      L"Velmar:[ERROR]ShellExecute:rCode:2;arg0:C:\\no\\console.exe;args:set PROMPT=() "
      L"%PROMPT%;workdir:" +
          start_.path(),
      L"Velmar:[ERROR]CommandUtils::split_command_line fail"};
  EXPECT_EQ(CapturedDebugLines(), expected);
  EXPECT_EQ(ReadTextFile(record_), "");
}

}  // namespace
