// The Windows Installer package, run with the system's msiexec: install, upgrade (also while
// a process holds the extension loaded), downgrade, uninstall. Each test starts and ends with
// the product absent.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/owners.h"
#include "tests/support/registry_snapshot.h"
#include "tests/support/temp_dir.h"

namespace {

const wchar_t kUpgradeCode[] = L"" VELMAR_UPGRADE_CODE;
const wchar_t kProductName[] = L"Velmar shell extensions";
const wchar_t kClsid[] = VELMAR_CLASS_ID_TEXT;
const wchar_t kInstallDir[] = L"C:\\Program Files\\Velmar";
const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Another handler whose keys sit beside ours and must outlive our removal.
const wchar_t kOtherClsid[] = L"{0D2C3F4E-5A6B-4C7D-8E9F-A0B1C2D3E4F5}";
const wchar_t kOtherHandler[] = L"*\\shellex\\ContextMenuHandlers\\OtherHandler";

constexpr DWORD kSuccess = 0;
constexpr DWORD kRestartNeeded = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr DWORD kFatalError = 1603;     // ERROR_INSTALL_FAILURE

std::wstring Built(const std::wstring& name) { return ProgramFolder() + L"\\" + name; }
std::wstring CurrentPackage() { return Built(L"Velmar-" VELMAR_VERSION L"-x64.msi"); }
std::wstring PreviousPackage() { return Built(L"Velmar-previous-x64.msi"); }
std::wstring Installed(const std::wstring& name) {
  return std::wstring(kInstallDir) + L"\\" + name;
}

std::string Bytes(const std::wstring& path) { return ReadTextFile(path); }
bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<BYTE> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!size || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length))
    return L"";
  return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
         std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(info->dwFileVersionLS));
}

std::vector<std::wstring> RelatedProducts() {
  std::vector<std::wstring> products;
  wchar_t code[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i)
    products.push_back(code);
  return products;
}

// Entries in the installed-programs list (Add or Remove Programs) that carry our name.
int ProgramsListEntries() {
  HKEY uninstall = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | KEY_WOW64_64KEY, &uninstall))
    return -1;
  int count = 0;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr)) break;
    wchar_t display[256] = {};
    DWORD bytes = sizeof(display);
    if (!RegGetValueW(uninstall, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, display, &bytes) &&
        std::wstring(display) == kProductName)
      ++count;
  }
  RegCloseKey(uninstall);
  return count;
}

std::vector<std::wstring> StartMenuShortcuts() {
  std::vector<std::wstring> found;
  // Windows Installer puts a per-machine shortcut in the common Start menu; Wine 8 uses the
  // user's.
  for (int folder : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    wchar_t path[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathW(nullptr, folder, nullptr, 0, path)) &&
        Exists(std::wstring(path) + L"\\Velmar.lnk"))
      found.push_back(std::wstring(path) + L"\\Velmar.lnk");
  }
  return found;
}

std::wstring PendingRenames() {
  wchar_t data[8192] = {};
  DWORD bytes = sizeof(data) - 2 * sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                   L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data, &bytes))
    return L"";
  std::wstring text(data, bytes / sizeof(wchar_t));
  std::replace(text.begin(), text.end(), L'\0', L'\n');
  return text;
}

std::vector<RegistryArea> Wow64Area() {
  return {{HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Wow6432Node"}};
}

std::string Describe(const RegistrySnapshot& entries) {
  std::string text;
  for (const auto& entry : entries) text += Utf8(entry.first) + " = " + Utf8(entry.second) + "\n";
  return text;
}

// Whether `key` is a folder on the path of one of the keys in `ours`.
bool IsFolderAbove(const std::wstring& key, const RegistrySnapshot& ours) {
  for (const auto& entry : ours)
    if (entry.first.size() > key.size() && entry.first.compare(0, key.size(), key) == 0)
      return true;
  return false;
}

bool MentionsUs(const RegistrySnapshot& entries) {
  for (const auto& entry : entries)
    if (entry.first.find(L"Velmar") != std::wstring::npos ||
        entry.first.find(kClsid) != std::wstring::npos ||
        entry.second.find(kClsid) != std::wstring::npos)
      return true;
  return false;
}

void SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  RegSetKeyValueW(root, key.c_str(), name, REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// A process that holds the installed extension loaded, as Explorer does.
class ModuleHolder {
 public:
  ModuleHolder() {
    const std::wstring event_name = L"VelmarModuleHeld" + std::to_wstring(GetCurrentProcessId());
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    std::wstring command = L"\"" + Built(L"module_holder.exe") + L"\" " + event_name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!ready || !CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info))
      return;
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    HANDLE waits[] = {ready.get(), process_.get()};
    held_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }
  ~ModuleHolder() { End(); }
  ModuleHolder(const ModuleHolder&) = delete;
  ModuleHolder& operator=(const ModuleHolder&) = delete;
  bool held() const { return held_; }
  void End() {
    if (!process_) return;
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 10000);
    process_.reset();
  }

 private:
  UniqueHandle process_;
  bool held_ = false;
};

class InstallerTest : public ::testing::Test {
 protected:
  // Another handler is registered beside ours, as on any Windows machine (where the approved
  // list is never empty, so removing our value never removes the list's key).
  void SetUp() override {
    SetString(HKEY_CLASSES_ROOT, kOtherHandler, nullptr, kOtherClsid);
    SetString(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kOtherClsid + L"\\InprocServer32",
              nullptr, L"C:\\Other\\other.dll");
    SetString(HKEY_LOCAL_MACHINE, kApprovedKey, kOtherClsid, L"Other");
    RemoveEverything();
    ASSERT_TRUE(RelatedProducts().empty());
    ASSERT_TRUE(Exists(CurrentPackage()));
    ASSERT_TRUE(Exists(PreviousPackage()));
  }
  void TearDown() override {
    RemoveEverything();
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kOtherHandler);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kOtherClsid).c_str());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kApprovedKey, kOtherClsid);
  }

  // msiexec's full exit code (a Unix exit status would keep only its low 8 bits).
  DWORD Msiexec(const std::wstring& action, const std::wstring& package) {
    ++runs_;
    const std::wstring log = logs_.path() + L"\\msiexec-" + std::to_wstring(runs_) + L".log";
    return RunAndWait(
        L"msiexec.exe " + action + L" \"" + package + L"\" /qn /norestart /l*v \"" + log + L"\"",
        180000);
  }

  static void RemoveEverything() {
    for (const std::wstring& product : RelatedProducts())
      RunAndWait(L"msiexec.exe /x " + product + L" /qn /norestart", 180000);
    RemoveTree(kInstallDir);
  }

  // The menu the shell host builds for a folder's background, and the extension's log lines.
  static CapturedRun RightClick() {
    return RunUnderDebugger(L"\"" + Built(L"shell_host.exe") +
                            L"\" background C:\\users\\Public menu");
  }

  TempDir logs_{L"msiexec-logs"};
  int runs_ = 0;
};

bool HasLine(const CapturedRun& run, const std::string& line) {
  return std::find(run.debug_lines.begin(), run.debug_lines.end(), line) != run.debug_lines.end();
}

TEST_F(InstallerTest, SilentInstallWritesWhatRegistrationWritesAndUninstallLeavesNothing) {
  // What DllRegisterServer writes for a module at the installed path.
  const RegistrySnapshot clean = TakeSnapshot(RegistrationAreas());
  ASSERT_TRUE(CreateDirectoryW(kInstallDir, nullptr));
  const std::wstring dll = Installed(L"VelmarShellExtensions-x64.dll");
  ASSERT_TRUE(CopyFileW(Built(L"VelmarShellExtensions-x64.dll").c_str(), dll.c_str(), FALSE));
  ASSERT_EQ(RunAndWait(L"regsvr32.exe /s \"" + dll + L"\""), 0u);
  const RegistryDiff registered = Compare(clean, TakeSnapshot(RegistrationAreas()));
  ASSERT_EQ(RunAndWait(L"regsvr32.exe /u /s \"" + dll + L"\""), 0u);
  ASSERT_TRUE(RemoveTree(kInstallDir));
  ASSERT_FALSE(registered.added.empty());

  const RegistrySnapshot before = TakeSnapshot(RegistrationAreas());
  const RegistrySnapshot wow64_before = TakeSnapshot(Wow64Area());

  ASSERT_EQ(Msiexec(L"/i", CurrentPackage()), kSuccess);

  EXPECT_EQ(Bytes(dll), Bytes(Built(L"VelmarShellExtensions-x64.dll")));
  EXPECT_EQ(Bytes(Installed(L"Velmar.exe")), Bytes(Built(L"Velmar.exe")));
  const std::string defaults = Bytes(Installed(L"config.default.cfg"));
  EXPECT_NE(defaults.find("<command_line>cmd.exe /k __PROMPT__</command_line>"), std::string::npos);
  EXPECT_EQ(Bytes(Installed(L"config.cfg")), defaults);
  EXPECT_EQ(StartMenuShortcuts().size(), 1u);
  EXPECT_EQ(RelatedProducts().size(), 1u);
  EXPECT_EQ(ProgramsListEntries(), 1);

  const RegistryDiff installed = Compare(before, TakeSnapshot(RegistrationAreas()));
  EXPECT_TRUE(installed.removed.empty()) << Describe(installed.removed);
  EXPECT_EQ(ValuesOf(installed.added), ValuesOf(registered.added));
  for (const auto& entry : installed.added)
    EXPECT_TRUE(registered.added.count(entry.first)) << Utf8(entry.first) << ": not a key of ours";
  const RegistryDiff wow64 = Compare(wow64_before, TakeSnapshot(Wow64Area()));
  EXPECT_TRUE(wow64.added.empty() && wow64.removed.empty()) << "nothing in the 32-bit view";

  CapturedRun click = RightClick();
  EXPECT_NE(click.output.find("menu=0x00000003"), std::string::npos) << click.output;
  EXPECT_NE(click.output.find("\"Python here\""), std::string::npos);
  EXPECT_NE(click.output.find("\"Open Velmar\""), std::string::npos);
  EXPECT_TRUE(HasLine(click, "Velmar:[INFO]cfg.load.success:1"));
  EXPECT_TRUE(HasLine(click, "Velmar:[INFO]cfg.description:Default settings"));

  ASSERT_EQ(Msiexec(L"/x", CurrentPackage()), kSuccess);

  EXPECT_FALSE(Exists(kInstallDir)) << "the unchanged settings go too";
  EXPECT_TRUE(StartMenuShortcuts().empty());
  EXPECT_TRUE(RelatedProducts().empty());
  EXPECT_EQ(ProgramsListEntries(), 0);
  const RegistryDiff removed = Compare(before, TakeSnapshot(RegistrationAreas()));
  // What goes is ours, and the empty folders above our keys that Windows Installer takes with
  // them; the other handler's keys and every value not ours stay.
  for (const auto& entry : removed.removed)
    EXPECT_TRUE(entry.first.find(L"\\|") == std::wstring::npos &&
                IsFolderAbove(entry.first, registered.added))
        << Utf8(entry.first) << " went";
  EXPECT_TRUE(ValuesOf(removed.added).empty());
  EXPECT_FALSE(MentionsUs(removed.added));
  EXPECT_TRUE(Compare(wow64_before, TakeSnapshot(Wow64Area())).added.empty());
  EXPECT_NE(RightClick().output.find("create=0x80040154"), std::string::npos)
      << "class not registered";
}

TEST_F(InstallerTest, UpgradeKeepsEditedSettingsAndAnOlderPackageIsRefused) {
  ASSERT_EQ(Msiexec(L"/i", PreviousPackage()), kSuccess);
  const std::wstring dll = Installed(L"VelmarShellExtensions-x64.dll");
  const std::wstring previous_version = FileVersion(dll);
  ASSERT_NE(previous_version, L"");

  // The user's own settings: one interpreter, played by the project's stand-in.
  TempDir python(L"upgrade-python");
  const std::wstring interpreter = python.path() + L"\\python.exe";
  ASSERT_TRUE(CopyFileW(Built(L"python_standin.exe").c_str(), interpreter.c_str(), FALSE));
  const std::string narrow = Ascii(interpreter);
  const std::string edited =
      "<configure>\r\n<description>Mine</description>\r\n"
      "<command_line>cmd.exe /k __PROMPT__</command_line>\r\n"
      "<python><path>" +
      narrow +
      "</path><version>3.13.1</version>"
      "<bits>64</bits></python>\r\n</configure>\r\n";
  ASSERT_TRUE(WriteTextFile(Installed(L"config.cfg"), edited));

  ASSERT_EQ(Msiexec(L"/i", CurrentPackage()), kSuccess);

  EXPECT_EQ(Bytes(Installed(L"config.cfg")), edited);
  EXPECT_EQ(Bytes(dll), Bytes(Built(L"VelmarShellExtensions-x64.dll")));
  EXPECT_NE(FileVersion(dll), previous_version);
  EXPECT_EQ(RelatedProducts().size(), 1u);
  EXPECT_EQ(ProgramsListEntries(), 1);
  EXPECT_EQ(StartMenuShortcuts().size(), 1u);
  CapturedRun click = RightClick();
  EXPECT_NE(click.output.find("\"Python 3.13.1 64\""), std::string::npos) << click.output;
  EXPECT_TRUE(HasLine(click, "Velmar:[INFO]cfg.description:Mine"));

  // Running the same package again repairs; it neither adds an entry nor touches the edit.
  EXPECT_EQ(Msiexec(L"/i", CurrentPackage()), kSuccess);
  EXPECT_EQ(Msiexec(L"REINSTALL=ALL REINSTALLMODE=amus /i", CurrentPackage()), kSuccess);
  EXPECT_EQ(Bytes(Installed(L"config.cfg")), edited);
  EXPECT_EQ(ProgramsListEntries(), 1);

  // An older package over a newer one is refused and changes nothing.
  EXPECT_EQ(Msiexec(L"/i", PreviousPackage()), kFatalError);
  EXPECT_EQ(Bytes(dll), Bytes(Built(L"VelmarShellExtensions-x64.dll")));
  EXPECT_EQ(ProgramsListEntries(), 1);

  // Removing the product keeps only what the user wrote.
  ASSERT_EQ(Msiexec(L"/x", CurrentPackage()), kSuccess);
  EXPECT_EQ(Bytes(Installed(L"config.cfg")), edited);
  EXPECT_FALSE(Exists(dll));
  EXPECT_FALSE(Exists(Installed(L"Velmar.exe")));
  EXPECT_FALSE(Exists(Installed(L"config.default.cfg")));
}

TEST_F(InstallerTest, UpgradeWhileTheModuleIsLoadedFinishesAtTheNextRestart) {
  ASSERT_EQ(Msiexec(L"/i", PreviousPackage()), kSuccess);
  const std::wstring dll = Installed(L"VelmarShellExtensions-x64.dll");
  const std::string previous = Bytes(dll);
  ModuleHolder holder;
  ASSERT_TRUE(holder.held());

  ASSERT_EQ(Msiexec(L"/i", CurrentPackage()), kRestartNeeded);
  EXPECT_EQ(Bytes(dll), previous) << "the loaded file stays until the restart";
  EXPECT_NE(PendingRenames().find(L"VelmarShellExtensions-x64.dll"), std::wstring::npos)
      << PendingRenames().size();
  EXPECT_EQ(ProgramsListEntries(), 1);

  holder.End();
  ASSERT_EQ(RunAndWait(L"wineboot.exe -r"), 0u);  // a restart, as far as files are concerned

  EXPECT_EQ(Bytes(dll), Bytes(Built(L"VelmarShellExtensions-x64.dll")));
  EXPECT_EQ(PendingRenames().find(L"VelmarShellExtensions-x64.dll"), std::wstring::npos);
  CapturedRun click = RightClick();
  EXPECT_NE(click.output.find("\"Open Velmar\""), std::string::npos) << click.output;
}

}  // namespace
