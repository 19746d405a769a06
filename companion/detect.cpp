#include "companion/detect.h"

#include <set>

#include "command/command_utils.h"
#include "common/owners.h"
#include "companion/found_interpreters.h"
#include "companion/installed_versions.h"
#include "companion/store_python.h"

namespace {

// A key opened for reading, in one registry view; its names and text values.
class RegistryKey {
 public:
  RegistryKey(HKEY parent, const std::wstring& name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS)
      key_.reset(key);
  }
  HKEY get() const { return key_.get(); }

  std::vector<std::wstring> Subkeys() const {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0; key_; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(key_.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      names.emplace_back(name, length);
    }
    return names;
  }
  // A text value; empty when absent. `name` null is the default value.
  std::wstring Text(const wchar_t* name) const {
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    if (!key_ ||
        RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return L"";
    return buffer;
  }

 private:
  UniqueKey key_;
};

std::wstring Variable(const wchar_t* name) {
  std::wstring value;
  CommandUtils::get_variable(name, value);
  return value;
}

std::wstring Unquoted(const std::wstring& text) {
  size_t start = text.find_first_not_of(L" \t\"");
  if (start == std::wstring::npos) return L"";
  return text.substr(start, text.find_last_not_of(L" \t\"") - start + 1);
}

// PEP 514: every company but the launcher's; a user's entry hides the machine's of the same
// company and tag. Its Version counts when it is X.Y.Z; SysVersion only when the files record
// nothing.
void FromRegistry(FoundInterpreters* found) {
  std::set<std::wstring> seen;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      RegistryKey python(root, L"Software\\Python", view);
      for (const std::wstring& company : python.Subkeys()) {
        if (_wcsicmp(company.c_str(), L"PyLauncher") == 0) continue;
        RegistryKey company_key(python.get(), company, view);
        for (const std::wstring& tag : company_key.Subkeys()) {
          std::wstring id = company + L"\\" + tag;
          if (root == HKEY_LOCAL_MACHINE && seen.count(id)) continue;
          RegistryKey install(company_key.get(), tag + L"\\InstallPath", view);
          std::wstring executable = install.Text(L"ExecutablePath");
          if (executable.empty()) {
            std::wstring folder = install.Text(nullptr);
            if (!folder.empty()) executable = folder + L"\\python.exe";
          }
          if (executable.empty()) continue;
          if (root == HKEY_CURRENT_USER) seen.insert(id);
          RegistryKey entry(company_key.get(), tag, view);
          std::wstring version = entry.Text(L"Version");
          found->Add(executable, IsFullVersion(version) ? version : L"",
                     VersionText(entry.Text(L"SysVersion")));
        }
      }
    }
  }
}

// The aliases of the Store's packages (one folder per package family); the top-level
// WindowsApps\python*.exe are not, and after an uninstall they open the Store.
void FromStore(const Sources& sources, FoundInterpreters* found) {
  if (sources.local_app_data.empty()) return;
  FolderWalk walk;
  const Listing apps = walk.Enter(CleanPath(sources.local_app_data + L"\\Microsoft\\WindowsApps"));
  for (const Subfolder& family : apps.folders) {
    if (_wcsnicmp(CommandUtils::base_name(family.path).c_str(), L"PythonSoftwareFoundation.Python.",
                  32) == 0)
      found->Add(family.path + L"\\python.exe");
  }
}

// python.exe in each folder (embeddable installs are found only there); not the Store's aliases.
void FromPath(const std::wstring& path, FoundInterpreters* found) {
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring folder = CleanPath(Unquoted(path.substr(start, end - start)));
    if (!folder.empty() && _wcsicmp(CommandUtils::base_name(folder).c_str(), L"WindowsApps") != 0)
      found->Add(folder + L"\\python.exe");
    start = end + 1;
  }
}

FoundInterpreters Find(const Sources& sources) {
  FoundInterpreters found(sources.program_files);
  if (sources.registry) FromRegistry(&found);
  FromStore(sources, &found);
  FromConda(sources, &found);
  FromTools(sources, &found);
  if (!sources.start_folder.empty()) FromStartFolder(CleanPath(sources.start_folder), &found);
  FromPath(sources.path, &found);
  return found;
}

// Version and width from the files; a Store alias's from its package's.
PythonEntry Entry(const FoundInterpreter& found) {
  std::wstring version = found.version;
  if (version.empty()) version = RecordedVersion(found.executable);
  if (version.empty()) version = found.fallback;
  return {wide_to_setting(found.path), wide_to_setting(version),
          wide_to_setting(PointerWidth(found.executable)), ""};
}

}  // namespace

void FoundInterpreters::Add(const std::wstring& spelt, const std::wstring& version,
                            const std::wstring& fallback) {
  const std::wstring path = CleanPath(spelt);
  if (path.empty() || !file_exists(path)) return;
  FoundInterpreter interpreter{path, path, version, fallback};
  if (IsPackageAlias(path)) {
    StorePackage package;
    if (!StorePackageOf(path, program_files_, &package)) return;
    interpreter.executable = package.executable;
    const std::wstring package_version = PackageVersionAsPython(package.version);
    if (!package_version.empty()) interpreter.fallback = package_version;
  }
  const std::wstring folder = CommandUtils::dir_name(path);
  // A relative spelling (a PATH entry such as "py") means another folder wherever Velmar is
  // started: it takes no full path's place.
  const bool relative = !CommandUtils::is_full_path(path);
  Identity identity;
  if (!relative && IdentityOf(folder, &identity) ? !folders_.insert(identity).second
                                                 : !folder_names_.insert(UpperCase(folder)).second)
    return;
  found_.push_back(interpreter);
}

Sources Sources::FromSystem() {
  Sources sources;
  sources.user_profile = Variable(L"USERPROFILE");
  sources.app_data = Variable(L"APPDATA");
  sources.local_app_data = Variable(L"LOCALAPPDATA");
  sources.program_data = Variable(L"ProgramData");
  sources.program_files = Variable(L"ProgramFiles");
  wchar_t drives[128] = {};
  DWORD length = GetLogicalDriveStringsW(127, drives);
  for (const wchar_t* drive = drives; length > 0 && length < 128 && *drive;
       drive += wcslen(drive) + 1)
    if (GetDriveTypeW(drive) == DRIVE_FIXED) sources.fixed_drives.push_back(drive);
  for (const wchar_t* name : {L"PYENV", L"PYENV_ROOT", L"PYENV_HOME"})
    if (sources.pyenv.empty()) sources.pyenv = Variable(name);
  sources.uv_python = Variable(L"UV_PYTHON_INSTALL_DIR");
  sources.winpython_home = Variable(L"WINPYTHON_HOME");
  sources.chocolatey_tools = Variable(L"ChocolateyToolsLocation");
  if (sources.chocolatey_tools.empty())
    sources.chocolatey_tools = Variable(L"SystemDrive") + L"\\tools";
  sources.conda_envs_path = Variable(L"CONDA_ENVS_PATH");
  sources.condarc = Variable(L"CONDARC");
  sources.pixi_home = Variable(L"PIXI_HOME");
  sources.poetry_virtualenvs = Variable(L"POETRY_VIRTUALENVS_PATH");
  sources.workon_home = Variable(L"WORKON_HOME");
  sources.hatch_data = Variable(L"HATCH_DATA_DIR");
  sources.path = Variable(L"PATH");
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  sources.start_folder = folder;
  return sources;
}

std::vector<std::wstring> FindInterpreters(const Sources& sources) {
  std::vector<std::wstring> paths;
  const FoundInterpreters found = Find(sources);
  for (const FoundInterpreter& interpreter : found.all()) paths.push_back(interpreter.path);
  return paths;
}

PythonEntry EntryFor(const std::wstring& path, const std::wstring& known_version) {
  FoundInterpreter interpreter{path, path, known_version, L""};
  StorePackage package;
  if (IsPackageAlias(path) && StorePackageOf(path, Variable(L"ProgramFiles"), &package)) {
    interpreter.executable = package.executable;
    interpreter.fallback = PackageVersionAsPython(package.version);
  }
  return Entry(interpreter);
}

std::vector<PythonEntry> NewInterpreters(const Config& config, const Sources& sources) {
  std::vector<PythonEntry> entries;
  const FoundInterpreters all = Find(sources);
  for (const FoundInterpreter& found : all.all()) {
    bool configured = false;
    for (const PythonEntry& entry : config.python)
      configured = configured || SamePath(setting_to_wide(entry.path), found.path);
    if (configured) continue;
    PythonEntry entry = Entry(found);
    if (!entry.version.empty()) entries.push_back(entry);
  }
  return entries;
}
