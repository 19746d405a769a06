// The hidden runner, the interpreter probe, the virtual-environment name and the console launch,
// with the project's stand-ins for an interpreter and a console, and Wine's own cmd.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "command/command_utils.h"
#include "command/project_environment.h"
#include "log/log.h"
#include "tools/explorer/child_process.h"
#include "tools/explorer/resource_counts.h"
#include "tests/support/console_record.h"
#include "tests/support/debug_string_capture.h"
#include "common/owners.h"
#include "common/paths.h"
#include "tools/explorer/temp_dir.h"

namespace {

std::wstring Standin() { return ProgramFolder() + L"\\python_standin.exe"; }
std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Whether the process whose id a stand-in wrote into `pid_file` has ended (within 3 s).
bool ProcessEnded(const std::wstring& pid_file) {
  std::string text = ReadTextFile(pid_file);
  if (text.empty()) return false;
  ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, std::stoul(text)));
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

// A hanging interpreter gives no answer, within the bound (the other answers: probe_answers).
TEST(ProbePython, AHangGivesNoAnswer) {
  Probe hang = ProbeOf("mode=hang\n", 1000);
  EXPECT_FALSE(hang.ok);
  EXPECT_EQ(hang.version, L"");
  EXPECT_EQ(hang.bits, L"");
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

// A hostile script: megabytes of an unclosed definition end in no name, not in a hang (the other
// names: the venv_names scenario).
TEST_F(VenvTest, AHostileActivateBatNamesNothing) {
  std::wstring hostile = MakeEnv(L"hostile");
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "PROMPT=(xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
  WriteTextFile(hostile + L"\\Scripts\\activate.bat", text);
  bool found = true;
  EXPECT_EQ(PromptOf(hostile, &found), L"");
  EXPECT_FALSE(found);
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

// The host keeps nothing of a console it started: the process and thread handles are closed at
// once (two handles a console, in a process that lives for days).
TEST_F(ConsoleTest, TheHostKeepsNoHandleOfAStartedConsole) {
  const std::wstring console =
      Quoted(ProgramFolder() + L"\\console_standin.exe") + L" /k __PROMPT__";
  auto start = [&] {
    DeleteFileW(record_.c_str());
    EXPECT_TRUE(CommandUtils::open_console(python_.path(), console, start_.path(), L"3.12.4 64",
                                           python_.folder() + L";"));
    EXPECT_FALSE(WaitForRecord(record_).empty());
  };
  start();  // what the first start sets up for good
  const long before = CountResources().handles;
  ASSERT_GE(before, 0);
  for (int i = 0; i < 5; ++i) start();
  EXPECT_LT(CountResources().handles, before + 5);
}

TEST_F(ConsoleTest, FailuresLogAndLeaveTheHostAsItWas) {
  std::wstring before = HostPath();
  log_set_level(LOG_DEBUG);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"no-such-console.exe /k __PROMPT__",
                                          start_.path(), L"3.8.5 64", L"C:\\py;"));
  EXPECT_EQ(HostPath(), before);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"  ", start_.path(), L"", L""));
  EXPECT_EQ(HostPath(), before);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"\"C:\\no\\console.exe\" __PROMPT__",
                                          start_.path(), L"", L""));
  EXPECT_EQ(HostPath(), before);
  // A host without PATH gets none back (not an empty one).
  SetEnvironmentVariableW(L"PATH", nullptr);
  EXPECT_FALSE(CommandUtils::open_console(python_.path(), L"  ", start_.path(), L"", L""));
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

// What no caret neutralises becomes _: control characters (below a blank, and DEL) among them;
// the printable characters around them stay.
TEST(NeutralizePromptPart, ControlCharactersAtBothEnds) {
  EXPECT_EQ(CommandUtils::neutralize_prompt_part(L"a\x1F b\x7F~c", false), L"a_ b_~c");
  EXPECT_EQ(CommandUtils::neutralize_prompt_part(L"x;y", true), L"x_y");
  EXPECT_EQ(CommandUtils::neutralize_prompt_part(L"x;y", false), L"x;y");
}

// The drive's type, read without GetDriveTypeW, is the system's own answer on every drive there
// is; a letter with no drive is not taken for a local disk.
TEST(DriveTypeOfRoot, AgreesWithTheSystemOnEveryDrive) {
  const DWORD drives = GetLogicalDrives();
  int compared = 0;
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    if (!(drives & (1u << (letter - L'A')))) {
      EXPECT_EQ(DriveTypeOfRoot(root), static_cast<UINT>(DRIVE_UNKNOWN)) << letter;
      continue;
    }
    const UINT system = GetDriveTypeW(root);
    if (system == DRIVE_NO_ROOT_DIR) continue;  // a drive with no medium in it
    EXPECT_EQ(DriveTypeOfRoot(root), system) << letter;
    ++compared;
  }
  EXPECT_GE(compared, 1);
  EXPECT_EQ(DriveTypeOfRoot(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
}

// Any user may make folders at a drive's root: an environment there is offered only when the
// root itself was right-clicked, never to the folders below it.
TEST(ProjectEnvironment, ADriveRootIsLookedInOnlyWhenItIsTheStartFolder) {
  const std::wstring planted = L"C:\\.venv", below = L"C:\\velmar-project-test";
  ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectoryW((planted + L"\\Scripts").c_str(), nullptr) ||
              GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(),
                        (planted + L"\\Scripts\\python.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteTextFile(planted + L"\\pyvenv.cfg", "version = 3.12.4\n"));
  ASSERT_TRUE(CreateDirectoryW(below.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ProjectEnvironment found;
  const bool from_below = FindProjectEnvironment(below, &found);
  const bool from_root = FindProjectEnvironment(L"C:\\", &found);
  RemoveTree(planted);
  RemoveTree(below);
  EXPECT_FALSE(from_below);
  ASSERT_TRUE(from_root);
  EXPECT_EQ(found.found_as, L".venv");
  EXPECT_EQ(found.interpreter, L"C:\\.venv\\Scripts\\python.exe");
  EXPECT_EQ(found.version + L" " + found.bits, L"3.12.4 64");
}

namespace {

// A file's or a folder's write time.
FILETIME WriteTimeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

// Gives a file or a folder a write time `minutes` ago.
void Settle(const std::wstring& path, int minutes = 60) {
  ASSERT_TRUE(SetWrittenAgo(path, minutes * 60));
}

void MakeVirtualEnvironment(const std::wstring& folder) {
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\Scripts").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(Standin().c_str(), (folder + L"\\Scripts\\python.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteTextFile(folder + L"\\pyvenv.cfg", "version = 3.12.4\n"));
}

}  // namespace

// A folder seen without an environment is not looked in again while its write time stays; an
// environment made there, or made inside a folder that was already there (a plain env folder,
// .pixi), shows on the next look all the same.
TEST(ProjectEnvironment, AFolderSeenWithoutOneShowsOneMadeThereAtOnce) {
  TempDir root(L"project-seen");
  ProjectEnvironment found;
  const std::wstring plain = root.path() + L"\\plain";
  CreateDirectoryW(plain.c_str(), nullptr);
  Settle(plain);
  EXPECT_FALSE(FindProjectEnvironment(plain, &found));
  MakeVirtualEnvironment(plain + L"\\.venv");
  ASSERT_TRUE(FindProjectEnvironment(plain, &found));
  EXPECT_EQ(found.found_as, L".venv");
  // The memory answers: given back the write time it was seen with, the folder is not looked in.
  const std::wstring unchanged = root.path() + L"\\unchanged";
  CreateDirectoryW(unchanged.c_str(), nullptr);
  Settle(unchanged);
  EXPECT_FALSE(FindProjectEnvironment(unchanged, &found));
  const FILETIME seen = WriteTimeOf(unchanged);
  MakeVirtualEnvironment(unchanged + L"\\.venv");
  ASSERT_TRUE(SetWriteTime(unchanged, seen));
  EXPECT_FALSE(FindProjectEnvironment(unchanged, &found));

  const std::wstring named = root.path() + L"\\named", pixi = root.path() + L"\\pixi";
  for (const std::wstring& folder : {named, named + L"\\env", pixi, pixi + L"\\.pixi"})
    CreateDirectoryW(folder.c_str(), nullptr);
  Settle(named);
  Settle(pixi);
  EXPECT_FALSE(FindProjectEnvironment(named, &found));
  EXPECT_FALSE(FindProjectEnvironment(pixi, &found));
  MakeVirtualEnvironment(named + L"\\env");
  ASSERT_TRUE(FindProjectEnvironment(named, &found));
  EXPECT_EQ(found.found_as, L"env");
  const std::wstring conda = pixi + L"\\.pixi\\envs\\default";
  CreateDirectoryW((pixi + L"\\.pixi\\envs").c_str(), nullptr);
  CreateDirectoryW(conda.c_str(), nullptr);
  CreateDirectoryW((conda + L"\\conda-meta").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(Standin().c_str(), (conda + L"\\python.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteTextFile(conda + L"\\conda-meta\\python-3.12.7-h1_0.json", "{}"));
  ASSERT_TRUE(FindProjectEnvironment(pixi, &found));
  EXPECT_EQ(found.found_as, L".pixi\\envs\\default");
  EXPECT_EQ(found.version, L"3.12.7");
}

// An environment's files are read once per version: the same record at the same settled stamp is
// not read again, a record or program changed since shows at once (and so does one changed within
// the clock's resolution), and the place it is found from is the asker's own.
TEST(ProjectEnvironment, AnEnvironmentIsReadOncePerVersionOfItsFiles) {
  TempDir root(L"project-read");
  const std::wstring venv = root.path() + L"\\.venv", record = venv + L"\\pyvenv.cfg",
                     program = venv + L"\\Scripts\\python.exe", below = root.path() + L"\\src";
  MakeVirtualEnvironment(venv);
  CreateDirectoryW(below.c_str(), nullptr);
  // Rewritten at the same size and write time: what a coarse clock gives two quick writes.
  auto rewrite_keeping_stamp = [&](const char* text) {
    const FILETIME kept = WriteTimeOf(record);
    ASSERT_TRUE(WriteTextFile(record, text));
    ASSERT_TRUE(SetWriteTime(record, kept));
  };
  ProjectEnvironment found;
  ASSERT_TRUE(FindProjectEnvironment(root.path(), &found));
  EXPECT_EQ(found.version, L"3.12.4");
  EXPECT_EQ(found.bits, L"64");
  rewrite_keeping_stamp("version = 3.13.1\n");
  ASSERT_TRUE(FindProjectEnvironment(root.path(), &found));
  EXPECT_EQ(found.version, L"3.13.1");

  Settle(record, 30);
  Settle(program, 30);
  ASSERT_TRUE(FindProjectEnvironment(root.path(), &found));
  rewrite_keeping_stamp("version = 3.12.4\n");
  ASSERT_TRUE(FindProjectEnvironment(below, &found));
  EXPECT_EQ(found.version, L"3.13.1");
  EXPECT_EQ(found.found_as, L"..\\.venv");
  Settle(record, 20);
  ASSERT_TRUE(FindProjectEnvironment(root.path(), &found));
  EXPECT_EQ(found.version, L"3.12.4");
  EXPECT_EQ(found.found_as, L".venv");

  // A 32-bit program in its place: only the header counts.
  std::string header(0x100, '\0');
  header[0] = 'M', header[1] = 'Z', header[0x3C] = 0x40;
  header.replace(0x40, 6, std::string("PE\0\0\x4c\x01", 6));
  ASSERT_TRUE(WriteTextFile(program, header));
  Settle(program, 20);
  ASSERT_TRUE(FindProjectEnvironment(root.path(), &found));
  EXPECT_EQ(found.bits, L"32");
}
