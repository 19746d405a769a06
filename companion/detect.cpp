#include "companion/detect.h"

#include <cstdint>
#include <cstring>
#include <set>

#include "command/command_utils.h"
#include "command/handle_owners.h"
#include "command/text_encoding.h"

namespace {

class RegistryKey {
 public:
  RegistryKey(HKEY parent, const std::wstring& name, REGSAM view) {
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | view, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

  std::vector<std::wstring> Subkeys() const {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0; key_; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
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
        RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return L"";
    return buffer;
  }

 private:
  HKEY key_ = nullptr;
};

std::wstring Variable(const wchar_t* name) {
  std::wstring value;
  CommandUtils::get_variable(name, value);
  return value;
}

bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Trimmed(const std::wstring& text) {
  size_t start = text.find_first_not_of(L" \t\r\n");
  if (start == std::wstring::npos) return L"";
  return text.substr(start, text.find_last_not_of(L" \t\r\n") - start + 1);
}

std::wstring WithoutTrailingSlash(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

class Found {
 public:
  // `version`: what the source itself says (a registry entry's Version), if anything.
  void Add(const std::wstring& path, const std::wstring& version = L"") {
    if (path.empty() || !file_exists(path)) return;
    for (const std::wstring& known : paths_)
      if (SamePath(known, path)) return;
    paths_.push_back(path);
    versions_.push_back(version);
  }
  std::vector<std::wstring> paths_, versions_;
};

// PEP 514: every company but the launcher's; a user's entry hides the machine's of the same
// company and tag.
void FromRegistry(Found* found) {
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
            if (!folder.empty()) executable = WithoutTrailingSlash(folder) + L"\\python.exe";
          }
          if (executable.empty()) continue;
          if (root == HKEY_CURRENT_USER) seen.insert(id);
          RegistryKey entry(company_key.get(), tag, view);
          std::wstring version = entry.Text(L"Version");
          found->Add(executable, version.empty() ? entry.Text(L"SysVersion") : version);
        }
      }
    }
  }
}

void FromCondaEnvs(const std::wstring& root, Found* found) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((root + L"\\envs\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    std::wstring env = root + L"\\envs\\" + name;
    if (name != L"." && name != L".." && IsFolder(env + L"\\conda-meta"))
      found->Add(env + L"\\python.exe");
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

void FromConda(const Sources& sources, Found* found) {
  std::vector<std::wstring> roots = sources.conda_roots;
  if (!sources.user_profile.empty()) {
    std::string bytes;
    if (read_file(sources.user_profile + L"\\.conda\\environments.txt", bytes)) {
      std::wstring text = decode_text(bytes);
      size_t start = 0;
      while (start < text.size()) {
        size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = WithoutTrailingSlash(Trimmed(text.substr(start, end - start)));
        if (!line.empty() && IsFolder(line)) {  // lines of removed environments stay behind
          found->Add(line + L"\\python.exe");
          roots.push_back(line);
        }
        start = end + 1;
      }
    }
    for (const wchar_t* name : {L"miniconda3", L"anaconda3", L"miniforge3"})
      roots.push_back(sources.user_profile + L"\\" + name);
  }
  for (const std::wstring& root : roots) FromCondaEnvs(root, found);
}

bool IsVirtualEnvironment(const std::wstring& folder) {
  return file_exists(folder + L"\\pyvenv.cfg") && file_exists(folder + L"\\Scripts\\python.exe");
}

// The folders inside `folder`, to `depth` levels, that are virtual environments.
void FromFoldersInside(const std::wstring& folder, int depth, Found* found) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> children;
  do {
    std::wstring name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
      children.push_back(folder + L"\\" + name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  for (const std::wstring& child : children) {
    if (IsVirtualEnvironment(child)) found->Add(child + L"\\Scripts\\python.exe");
    if (depth > 1) FromFoldersInside(child, depth - 1, found);
  }
}

// The start folder and the folders inside it (.venv, env\py312, ...), and the folders above it
// themselves: not the other folders inside those, which may hold anything downloaded.
void FromVirtualEnvironments(const std::wstring& start, Found* found) {
  const std::wstring first = WithoutTrailingSlash(start);
  if (IsVirtualEnvironment(first)) found->Add(first + L"\\Scripts\\python.exe");
  FromFoldersInside(first, 2, found);
  for (std::wstring folder = CommandUtils::dir_name(first); !folder.empty();
       folder = CommandUtils::dir_name(folder)) {
    if (IsVirtualEnvironment(folder)) found->Add(folder + L"\\Scripts\\python.exe");
    if (folder.size() <= 3) break;  // "C:\"
  }
}

void FromPath(const Sources& sources, Found* found) {
  const std::wstring stubs =
      sources.local_app_data.empty() ? L"" : sources.local_app_data + L"\\Microsoft\\WindowsApps";
  size_t start = 0;
  while (start <= sources.path.size()) {
    size_t end = sources.path.find(L';', start);
    if (end == std::wstring::npos) end = sources.path.size();
    std::wstring folder = WithoutTrailingSlash(Trimmed(sources.path.substr(start, end - start)));
    // The Store's alias stubs answer with an advertisement, not with Python.
    if (!folder.empty() && !(!stubs.empty() && SamePath(folder, stubs)))
      found->Add(folder + L"\\python.exe");
    start = end + 1;
  }
}

}  // namespace

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

Sources Sources::FromSystem() {
  Sources sources;
  sources.user_profile = Variable(L"USERPROFILE");
  sources.path = Variable(L"PATH");
  sources.local_app_data = Variable(L"LOCALAPPDATA");
  std::wstring program_data = Variable(L"ProgramData");
  if (!program_data.empty()) {
    sources.conda_roots.push_back(program_data + L"\\miniconda3");
    sources.conda_roots.push_back(program_data + L"\\anaconda3");
  }
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  sources.start_folder = folder;
  return sources;
}

namespace {

Found Find(const Sources& sources) {
  Found found;
  if (sources.registry) FromRegistry(&found);
  FromConda(sources, &found);
  if (!sources.start_folder.empty()) FromVirtualEnvironments(sources.start_folder, &found);
  FromPath(sources, &found);
  return found;
}

// The version CPython records in its executable: FILEVERSION major, minor, micro * 1000 + ...
std::wstring ResourceVersion(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<BYTE> data(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      HIWORD(fixed->dwFileVersionMS) == 0)
    return L"";
  return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(fixed->dwFileVersionLS) / 1000);
}

}  // namespace

// What the interpreter's own files say, without running it: a virtual environment's
// pyvenv.cfg, a conda environment's conda-meta\python-X.Y.Z-*.json, the executable's version.
std::wstring RecordedVersion(const std::wstring& interpreter) {
  const std::wstring folder = CommandUtils::dir_name(interpreter);
  for (const std::wstring& root : {CommandUtils::dir_name(folder), folder}) {
    std::string bytes;
    if (root.empty() || !read_file(root + L"\\pyvenv.cfg", bytes)) continue;
    std::wstring text = decode_text(bytes);
    std::wstring version;
    if (CommandUtils::pyvenv_value(text, L"version", version) && !version.empty()) return version;
    // version_info = 3.11.4.final.0: the numbers before the release level.
    CommandUtils::pyvenv_value(text, L"version_info", version);
    version = version.substr(0, version.find_first_not_of(L"0123456789."));
    while (!version.empty() && version.back() == L'.') version.pop_back();
    if (!version.empty()) return version;
  }
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\conda-meta\\python-*.json").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    std::wstring name;
    do {  // python-3.11.5-h1234_0.json, not python-dateutil-2.8.2-....json
      std::wstring candidate = entry.cFileName + 7;
      if (!candidate.empty() && iswdigit(candidate[0])) name = candidate;
    } while (name.empty() && FindNextFileW(search, &entry));
    FindClose(search);
    if (!name.empty()) return name.substr(0, name.find(L'-'));
  }
  return ResourceVersion(interpreter);
}

// "64" or "32" from the executable's header (its machine type); empty when it is no program.
std::wstring PointerWidth(const std::wstring& executable) {
  std::string head;
  FileStream file(executable, L"rb");
  if (!file.get()) return L"";
  head.resize(4096);
  head.resize(fread(&head[0], 1, head.size(), file.get()));
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return L"";
  uint32_t offset = 0;
  memcpy(&offset, &head[0x3C], sizeof(offset));
  if (offset > head.size() - 6 || head.compare(offset, 4, std::string("PE\0\0", 4)) != 0)
    return L"";
  uint16_t machine = 0;
  memcpy(&machine, &head[offset + 4], sizeof(machine));
  switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
    case IMAGE_FILE_MACHINE_ARM64:
      return L"64";
    case IMAGE_FILE_MACHINE_I386:
    case IMAGE_FILE_MACHINE_ARMNT:
      return L"32";
    default:
      return L"";
  }
}

std::vector<std::wstring> FindInterpreters(const Sources& sources) { return Find(sources).paths_; }

PythonEntry EntryFor(const std::wstring& path, const std::wstring& known_version) {
  std::wstring version = known_version.empty() ? RecordedVersion(path) : known_version;
  return {wide_to_setting(path), wide_to_setting(version.substr(0, CommandUtils::kPromptPartLimit)),
          wide_to_setting(PointerWidth(path)), ""};
}

std::vector<PythonEntry> NewInterpreters(const Config& config, const Sources& sources) {
  std::vector<PythonEntry> entries;
  Found found = Find(sources);
  for (size_t i = 0; i < found.paths_.size(); ++i) {
    const std::wstring& path = found.paths_[i];
    bool configured = false;
    for (const PythonEntry& entry : config.python)
      configured = configured || SamePath(setting_to_wide(entry.path), path);
    if (configured) continue;
    PythonEntry entry = EntryFor(path, found.versions_[i]);
    if (!entry.version.empty()) entries.push_back(entry);
  }
  return entries;
}
