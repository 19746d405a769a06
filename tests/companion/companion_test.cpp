// The companion's Detect and its command-line mode, with registry and folder fixtures made here.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/detect.h"
#include "tests/support/child_process.h"
#include "tests/support/module_copy.h"
#include "tests/support/temp_dir.h"

namespace {

const wchar_t kCompany[] = L"Software\\Python\\VelmarTestCo";
const wchar_t kLauncher[] = L"Software\\Python\\PyLauncher";
const wchar_t kOtherCompany[] = L"Software\\Python\\VelmarOtherCo";

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// A folder holding the interpreter stand-in as python.exe, answering with `version`.
std::wstring Interpreter(const std::wstring& folder, const std::string& version) {
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring path = folder + L"\\python.exe";
  CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(), path.c_str(), FALSE);
  WriteTextFile(folder + L"\\standin.cfg", "version=" + version + "\nbits=64\n");
  return path;
}

void SetText(HKEY root, REGSAM view, const std::wstring& key, const wchar_t* name,
             const std::wstring& value) {
  HKEY handle = nullptr;
  RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &handle, nullptr);
  RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
}

void RemoveKey(HKEY root, REGSAM view, const wchar_t* key) {
  HKEY python = nullptr;
  if (RegOpenKeyExW(root, L"Software\\Python", 0, KEY_ALL_ACCESS | view, &python) != ERROR_SUCCESS)
    return;
  std::wstring name = std::wstring(key).substr(16);  // below Software\Python
  RegDeleteTreeW(python, name.c_str());
  RegDeleteKeyExW(python, name.c_str(), view, 0);
  RegCloseKey(python);
}

class DetectTest : public ::testing::Test {
 protected:
  DetectTest() : root_(L"detect") {}
  void TearDown() override {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        for (const wchar_t* key : {kCompany, kLauncher, kOtherCompany}) RemoveKey(root, view, key);
  }
  std::wstring Folder(const std::wstring& name) {
    std::wstring path = root_.path() + L"\\" + name;
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
  }

  // Every kind of source, with the cases Detect must skip. Each interpreter is the stand-in,
  // whose own answer (never asked) would be 9.9.9; the versions come from each source's records.
  Sources Fixtures() {
    a_ = Interpreter(Folder(L"user-312"), "9.9.9");
    std::wstring machine = Interpreter(Folder(L"machine-312"), "9.9.9");
    c_ = Interpreter(Folder(L"machine32-39"), "9.9.9");
    std::wstring launcher = Interpreter(Folder(L"launcher"), "9.9.9");
    const std::wstring tag = std::wstring(kCompany) + L"\\3.12";
    SetText(HKEY_CURRENT_USER, KEY_WOW64_64KEY, tag + L"\\InstallPath", L"ExecutablePath", a_);
    SetText(HKEY_CURRENT_USER, KEY_WOW64_64KEY, tag, L"Version", L"3.12.1");
    SetText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, tag + L"\\InstallPath", L"ExecutablePath",
            machine);  // hidden by the user's entry
    // The same tag of another company is another interpreter.
    o_ = Interpreter(Folder(L"other-312"), "9.9.9");
    const std::wstring other = std::wstring(kOtherCompany) + L"\\3.12";
    SetText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, other + L"\\InstallPath", L"ExecutablePath", o_);
    SetText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, other, L"SysVersion", L"3.12");
    const std::wstring old = std::wstring(kCompany) + L"\\3.9-32";
    SetText(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, old + L"\\InstallPath", nullptr,
            root_.path() + L"\\machine32-39\\");
    SetText(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, old, L"Version", L"3.9.13");
    SetText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, std::wstring(kCompany) + L"\\3.8\\InstallPath",
            L"ExecutablePath", root_.path() + L"\\gone\\python.exe");
    SetText(HKEY_CURRENT_USER, KEY_WOW64_64KEY, std::wstring(kLauncher) + L"\\3.12\\InstallPath",
            L"ExecutablePath", launcher);

    Sources sources;
    sources.user_profile = Folder(L"profile");
    Folder(L"profile\\.conda");
    e_ = Interpreter(Folder(L"conda-env"), "9.9.9");
    Folder(L"conda-env\\conda-meta");
    WriteTextFile(root_.path() + L"\\conda-env\\conda-meta\\python-dateutil-2.8.2-pyhd_0.json",
                  "{}");
    WriteTextFile(root_.path() + L"\\conda-env\\conda-meta\\python-3.11.5-h1_0.json", "{}");
    WriteTextFile(
        sources.user_profile + L"\\.conda\\environments.txt",
        Ascii(root_.path()) + "\\conda-env\r\n" + Ascii(root_.path()) + "\\removed-env\r\n\r\n");
    std::wstring conda = Folder(L"miniforge");
    Folder(L"miniforge\\envs");
    g_ = Interpreter(Folder(L"miniforge\\envs\\data"), "9.9.9");
    Folder(L"miniforge\\envs\\data\\conda-meta");
    WriteTextFile(conda + L"\\envs\\data\\conda-meta\\python-3.10.2-h2_0.json", "{}");
    sources.conda_roots = {conda};
    // Virtual environments in the start folder, two levels inside it, and above it; not in the
    // folders beside those above.
    std::wstring project = Folder(L"project");
    v_ = Interpreter(Folder(L"project\\.venv") + L"\\Scripts", "9.9.9");
    WriteTextFile(project + L"\\.venv\\pyvenv.cfg", "home = x\nversion = 3.12.1\n");
    Folder(L"project\\envs");
    w_ = Interpreter(Folder(L"project\\envs\\py311") + L"\\Scripts", "9.9.9");
    WriteTextFile(project + L"\\envs\\py311\\pyvenv.cfg", "version_info = 3.11.4.final.0\n");
    std::wstring beside = Folder(L"downloads") + L"\\.venv";
    Interpreter(Folder(L"downloads\\.venv") + L"\\Scripts", "9.9.9");
    WriteTextFile(beside + L"\\pyvenv.cfg", "version = 3.12.1\n");
    sources.start_folder = project;
    p_ = Interpreter(Folder(L"on-path"), "9.9.9");  // its executable's version: 3.13.0
    sources.local_app_data = Folder(L"local");
    Folder(L"local\\Microsoft");
    Interpreter(Folder(L"local\\Microsoft\\WindowsApps"), "9.9.9");
    std::wstring upper = a_;
    CharUpperW(&upper[0]);
    sources.path = root_.path() + L"\\on-path;" + sources.local_app_data +
                   L"\\Microsoft\\WindowsApps;" + upper.substr(0, upper.rfind(L'\\')) +
                   L";C:\\does\\not\\exist";
    return sources;
  }

  // Whether any stand-in below `folder` was started.
  static bool AnyStarted(const std::wstring& folder) {
    if (GetFileAttributesW((folder + L"\\standin-starts.txt").c_str()) != INVALID_FILE_ATTRIBUTES)
      return true;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool started = false;
    do {
      std::wstring name = entry.cFileName;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
        started = started || AnyStarted(folder + L"\\" + name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return started;
  }

  TempDir root_;
  std::wstring a_, c_, e_, g_, o_, v_, w_, p_;
};

TEST_F(DetectTest, FindsEachSourceOnceAndSkipsWhatCannotRun) {
  Sources sources = Fixtures();
  std::vector<std::wstring> expected = {a_, o_, c_, e_, g_, v_, w_, p_};
  EXPECT_EQ(FindInterpreters(sources), expected);
}

TEST_F(DetectTest, OffersOnlyWhatIsNotConfiguredWithItsVersion) {
  Sources sources = Fixtures();
  Config config;
  std::wstring lower = a_;
  CharLowerW(&lower[0]);
  config.python.push_back({Ascii(lower), "3.12.1", "64", "mine"});
  std::vector<PythonEntry> offered = NewInterpreters(config, sources);
  std::vector<std::string> seen;
  for (const PythonEntry& entry : offered)
    seen.push_back(entry.path + "|" + entry.version + "|" + entry.bits);
  std::vector<std::string> expected = {Ascii(o_) + "|3.12|64",   Ascii(c_) + "|3.9.13|64",
                                       Ascii(e_) + "|3.11.5|64", Ascii(g_) + "|3.10.2|64",
                                       Ascii(v_) + "|3.12.1|64", Ascii(w_) + "|3.11.4|64",
                                       Ascii(p_) + "|3.13.0|64"};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(AnyStarted(root_.path())) << "Detect started an interpreter";
}

// Velmar.exe --detect --save, then --list, and the DLL beside it shows what was saved.
TEST(CompanionCommandLine, DetectSaveListAndTheMenuShowsThem) {
  ModuleCopy copy(L"companion");
  ASSERT_TRUE(copy.copied());
  std::wstring velmar = copy.folder() + L"\\Velmar.exe";
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\Velmar.exe").c_str(), velmar.c_str(), FALSE));
  ASSERT_TRUE(
      copy.WriteConfig("<configure><command_line>cmd.exe /k __PROMPT__</command_line>"
                       "<log_level>4</log_level></configure>"));
  TempDir place(L"companion-path");
  std::wstring python = Interpreter(place.path() + L"\\py", "3.12.1");

  wchar_t saved_path[32768] = {};
  GetEnvironmentVariableW(L"PATH", saved_path, 32768);
  SetEnvironmentVariableW(L"PATH", (place.path() + L"\\py;" + saved_path).c_str());
  CapturedRun detect = RunUnderDebugger(Quoted(velmar) + L" --detect --save");
  SetEnvironmentVariableW(L"PATH", saved_path);
  EXPECT_EQ(detect.exit_code, 0u) << detect.output;
  EXPECT_EQ(detect.output, Ascii(python) + "|3.13.0|64|\r\n");  // its recorded version

  CapturedRun list = RunUnderDebugger(Quoted(velmar) + L" --list");
  EXPECT_EQ(list.exit_code, 0u);
  EXPECT_EQ(list.output, detect.output);
  CapturedRun wrong = RunUnderDebugger(Quoted(velmar) + L" --save");
  EXPECT_EQ(wrong.exit_code, 2u);
  EXPECT_EQ(wrong.output,
            "Velmar: usage: Velmar.exe --list | --detect [--save] | --install-settings | "
            "--uninstall-settings\r\n");

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
