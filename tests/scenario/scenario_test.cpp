// Runs every scenario under tests/scenarios: the commands above the "----" line build a folder
// tree, an installed module with its settings and stand-in interpreters, and play Explorer on
// it (shell_host.exe under the debugger); what they print, with the module's log lines and what
// the started console got, must equal the transcript below the line. Paths are written as
// %ROOT% (the scenario's folder), %MODULE% (the module's folder), %BIN% (the build's programs)
// %PATH% (the inherited PATH), %VERSION% (the product's) and %MODULE_FILE% (the module's file
// name). A few commands print what one routine makes of its input (settings, venv, probe, prompt,
// split); others install the package with msiexec and print the registry's changes (installer_*, in
// a prefix of their own). VELMAR_SCENARIO_UPDATE=1 rewrites the transcripts.
#include <windows.h>
#include <msi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "command/command_utils.h"
#include "companion/detect.h"
#include "config/configure.h"
#include "shellext/extensions_shell_ex.h"
#include "tools/explorer/child_process.h"
#include "tests/support/console_record.h"
#include "tests/support/installed_files.h"
#include "tools/explorer/module_copy.h"
#include "common/owners.h"
#include "tests/support/registry_snapshot.h"
#include "tools/explorer/temp_dir.h"

namespace {

const char kSeparator[] = "----";

std::wstring ScenarioFolder() {
  std::wstring folder =
      L"Z:" + std::wstring(VELMAR_SCENARIO_DIR, VELMAR_SCENARIO_DIR + strlen(VELMAR_SCENARIO_DIR));
  for (wchar_t& c : folder) c = c == L'/' ? L'\\' : c;
  return folder;
}

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW((ScenarioFolder() + L"\\*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = Ascii(found.cFileName);
    names.push_back(name.substr(0, name.size() - 4));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring text(utf8.size(), L'\0');
  text.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0],
                                  static_cast<int>(text.size())));
  return text;
}

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = 0; (at = text->find(from, at)) != std::string::npos; at += to.size())
    text->replace(at, from.size(), to);
}

// Whether any interpreter stand-in below `folder` was started (each start leaves a line beside
// the program).
bool AnyStarted(const std::wstring& folder) {
  if (GetFileAttributesW((folder + L"\\standin-starts.txt").c_str()) != INVALID_FILE_ATTRIBUTES)
    return true;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool started = false;
  do {
    std::wstring name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && name != L"." && name != L"..")
      started = started || AnyStarted(folder + L"\\" + name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return started;
}

// The folders above `path` that are not there yet (the scenario's own files' folders).
void MakeParents(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
}

// Detect looks only where the scenario says.
Sources NoSources() {
  Sources sources;
  sources.registry = false;
  return sources;
}

// A command's words; one in double quotes may hold spaces (and keeps its backslashes).
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> std::quoted(word, '"', '\0');) words.push_back(word);
  return words;
}

// "PATH TEXT" or "\"PATH\" TEXT" (a path with blanks); the text may be empty.
void PathAndText(const std::string& line, std::string* path, std::string* text) {
  size_t end = line.empty() || line[0] != '"' ? line.find(' ') : line.find('"', 1);
  *path = line.substr(line[0] == '"', end == std::string::npos ? end : end - (line[0] == '"'));
  if (end != std::string::npos && line[0] == '"') ++end;
  *text = end < line.size() ? line.substr(end + 1) : "";
}

// Values added, and all that went; keys added too when `with_keys` (in a shared prefix an
// earlier registration may have left the folders above ours).
std::string Changes(const RegistrySnapshot& before, const RegistrySnapshot& after, bool with_keys) {
  RegistryDiff diff = Compare(before, after);
  std::string text;
  for (const auto& entry : with_keys ? diff.added : ValuesOf(diff.added))
    text += "+ " + Ascii(entry.first + (entry.second.empty() ? L"" : L"=" + entry.second)) + "\n";
  for (const auto& entry : diff.removed) text += "- " + Ascii(entry.first) + "\n";
  return text;
}

// Where the package writes: where registration does, Active Setup (the package of Windows 11's
// menu, for every user at logon), and the 32-bit view, which it must not.
std::vector<RegistryArea> PackageAreas() {
  std::vector<RegistryArea> areas = RegistrationAreas();
  areas.push_back(
      {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Microsoft\\Active Setup\\Installed Components"});
  areas.push_back({HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Wow6432Node"});
  return areas;
}

const wchar_t kInstallDir[] = L"C:\\Program Files\\Velmar";

std::vector<std::wstring> RelatedProducts(const wchar_t* upgrade_code = L"" VELMAR_UPGRADE_CODE) {
  std::vector<std::wstring> products;
  wchar_t code[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code, 0, i, code) == 0; ++i)
    products.push_back(code);
  return products;
}

// Keys, values and texts below HKCU\Software and HKLM\Software that name any of `texts` (letter
// case ignored), but Windows Installer's own records.
std::vector<std::string> RegistryMentions(const std::vector<std::wstring>& texts) {
  std::vector<std::string> found;
  auto names = [&](const std::wstring& text) {
    for (const std::wstring& wanted : texts)
      if (StrStrIW(text.c_str(), wanted.c_str())) return true;
    return false;
  };
  std::function<void(HKEY, const std::wstring&)> walk = [&](HKEY key, const std::wstring& path) {
    if (StrStrIW(path.c_str(), L"\\Installer") || StrStrIW(path.c_str(), L"\\Uninstall")) return;
    if (names(path)) found.push_back(Ascii(path));
    wchar_t name[16384];
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
      DWORD name_length = 16384, size = static_cast<DWORD>(data.size() - 2), type = 0;
      LONG status = RegEnumValueW(key, i, name, &name_length, nullptr, &type, data.data(), &size);
      if (status == ERROR_MORE_DATA) continue;  // larger than any name of ours
      if (status != ERROR_SUCCESS) break;
      std::wstring text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ
                              ? std::wstring(reinterpret_cast<wchar_t*>(data.data()), size / 2)
                              : L"";
      if (names(name) || names(text.c_str())) found.push_back(Ascii(path + L"|" + name));
    }
    for (DWORD i = 0;; ++i) {
      DWORD name_length = 16384;
      if (RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      HKEY child = nullptr;
      // (a link, such as the 32-bit view's, is not followed: it would lead round in a circle)
      if (RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, KEY_READ, &child) != ERROR_SUCCESS)
        continue;
      walk(child, path + L"\\" + name);
      RegCloseKey(child);
    }
  };
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    HKEY software = nullptr;
    if (RegOpenKeyExW(root, L"Software", 0, KEY_READ, &software) != ERROR_SUCCESS) continue;
    walk(software, root == HKEY_CURRENT_USER ? L"HKCU\\Software" : L"HKLM\\Software");
    RegCloseKey(software);
  }
  return found;
}

// Entries named after the product in the installed-programs list (Add or Remove Programs), for
// every user or for the current one.
int ProgramsListEntries(HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY uninstall = nullptr;
  if (RegOpenKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                    KEY_READ | KEY_WOW64_64KEY, &uninstall))
    return -1;
  int count = 0;
  wchar_t name[256], display[256];
  for (DWORD i = 0, length = 256;
       !RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr);
       ++i, length = 256) {
    DWORD bytes = sizeof(display);
    count +=
        !RegGetValueW(uninstall, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, display, &bytes) &&
        std::wstring(display) == L"Velmar shell extensions";
  }
  RegCloseKey(uninstall);
  return count;
}

// Windows Installer puts a per-machine shortcut in the common Start menu; Wine 8 in the user's.
int StartMenuShortcuts() {
  int count = 0;
  for (int folder : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    wchar_t path[MAX_PATH];
    count += SUCCEEDED(SHGetFolderPathW(nullptr, folder, nullptr, 0, path)) &&
             GetFileAttributesW((std::wstring(path) + L"\\Velmar.lnk").c_str()) !=
                 INVALID_FILE_ATTRIBUTES;
  }
  return count;
}

std::string PendingRenames() {
  std::vector<wchar_t> data(32768);
  DWORD bytes = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                   L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                   &bytes))
    return "";
  std::wstring text(data.data(), bytes / sizeof(wchar_t));
  for (wchar_t& c : text) c = c ? c : L'|';
  return Ascii(text);
}

// An XML document's elements with their attributes, one per line, indented by depth.
void PrintElements(const tinyxml2::XMLElement* element, int depth, std::string* out) {
  for (; element; element = element->NextSiblingElement()) {
    *out += std::string(2 * depth, ' ') + element->Name();
    for (const tinyxml2::XMLAttribute* a = element->FirstAttribute(); a; a = a->Next())
      *out += std::string(" ") + a->Name() + "=\"" + a->Value() + "\"";
    const char* text = element->GetText();
    *out += text ? std::string(": ") + text + "\n" : "\n";
    PrintElements(element->FirstChildElement(), depth + 1, out);
  }
}

// A program's embedded manifest (resource 1), as text.
std::string EmbeddedManifest(const std::wstring& program) {
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "";
  std::string text;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  if (loaded)
    text.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
  FreeLibrary(module);
  return text;
}

class Scenario {
 public:
  Scenario() : root_(L"scenario") {}
  ~Scenario() {
    Release();
    for (const ScopedHandle& locker : lockers_) WaitForSingleObject(locker.get(), INFINITE);
    if (packages_used_) {
      for (const std::wstring& product : RelatedProducts())
        RunAndWait(L"msiexec.exe /x " + product + L" /qn /norestart", 180000);
      RemoveTree(kInstallDir);
    }
    for (const Key& key : keys_) {
      size_t last = key.path.rfind(L'\\');
      HKEY parent = nullptr;
      if (key.whole && !RegOpenKeyExW(key.hive, key.path.substr(0, last).c_str(), 0,
                                      KEY_ALL_ACCESS | key.view, &parent)) {
        RegDeleteTreeW(parent, key.path.substr(last + 1).c_str());
        RegDeleteKeyExW(parent, key.path.substr(last + 1).c_str(), key.view, 0);
      } else if (!key.whole && !RegOpenKeyExW(key.hive, key.path.c_str(), 0,
                                              KEY_ALL_ACCESS | key.view, &parent)) {
        RegDeleteValueW(parent, key.value.empty() ? nullptr : key.value.c_str());
      }
      if (parent) RegCloseKey(parent);
    }
    HKEY approved = nullptr;
    if (approved_removed_ && RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &approved, nullptr) == 0)
      RegCloseKey(approved);
    SetEnvironmentVariableW(L"VELMAR_CONSOLE_RECORD", nullptr);
    for (auto variable = variables_.rbegin(); variable != variables_.rend(); ++variable)
      SetEnvironmentVariableW(variable->first.c_str(),
                              variable->second.set ? variable->second.value.c_str() : nullptr);
    for (const std::wstring& tree : cleanup_) RemoveTree(tree);
    for (const std::wstring& path : replaced_)
      MoveFileExW((path + L".scenario-saved").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
    if (dpi_set_) RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels");
  }

  // Runs one command line of a scenario and appends what it prints.
  void Run(std::string line) {
    std::string command = line.substr(0, line.find(' '));
    struct Remember {  // the command before the next one
      std::string& previous;
      const std::string& command;
      ~Remember() { previous = command; }
    } remember{previous_, command};
    std::string rest = line.size() > command.size() ? line.substr(command.size() + 1) : "";
    // A file's text: escapes (\n \r \xE9) first, so that a path put in by %ROOT% keeps its "\r".
    if (command == "file") {
      std::string path, text;
      PathAndText(rest, &path, &text);
      ReplaceAll(&text, "\\n", "\n");
      ReplaceAll(&text, "\\r", "\r");
      for (size_t at; (at = text.find("\\L")) != std::string::npos;) {  // \L<count>; x that often
        size_t end = text.find(';', at);
        text.replace(at, end + 1 - at, std::stoul(text.substr(at + 2, end - at - 2)), 'x');
      }
      for (size_t at; (at = text.find("\\x")) != std::string::npos;)
        text.replace(at, 4, 1, static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16)));
      rest = "\"" + path + "\" " + text;
    }
    Expand(&rest);
    const auto handler = Commands().find(command);
    if (handler == Commands().end()) FAIL() << "unknown scenario command: " << line;
    (this->*handler->second)(command, rest);
  }

  using Handler = void (Scenario::*)(const std::string& command, std::string rest);
  // The commands a scenario line may start with, one handler each: `rest` is the line after the
  // command, its paths expanded.
  static const std::map<std::string, Handler>& Commands() {
    static const std::map<std::string, Handler> commands = {
        {"module", &Scenario::DoModule},
        {"fault-module", &Scenario::DoFaultModule},
        {"config", &Scenario::DoConfig},
        {"no-config", &Scenario::DoNoConfig},
        {"companion", &Scenario::DoCompanion},
        {"dir", &Scenario::DoDir},
        {"file", &Scenario::DoFile},
        {"python", &Scenario::DoPython},
        {"python-file", &Scenario::DoPythonFile},
        {"link", &Scenario::DoLink},
        {"copy", &Scenario::DoCopy},
        {"stand-in", &Scenario::DoStandIn},
        {"lock-file", &Scenario::DoLockFile},
        {"hardlink", &Scenario::DoHardlink},
        {"cleanup", &Scenario::DoCleanup},
        {"exists", &Scenario::DoExists},
        {"env", &Scenario::DoEnv},
        {"settings", &Scenario::DoSettings},
        {"venv", &Scenario::DoVenv},
        {"probe", &Scenario::DoProbe},
        {"prompt", &Scenario::DoPrompt},
        {"split", &Scenario::DoSplit},
        {"reg", &Scenario::DoReg},
        {"run", &Scenario::DoRun},
        {"program", &Scenario::DoProgram},
        {"program-in", &Scenario::DoProgram},
        {"snapshot", &Scenario::DoSnapshot},
        {"changes", &Scenario::DoChanges},
        {"value-changes", &Scenario::DoChanges},
        {"same", &Scenario::DoSame},
        {"show", &Scenario::DoShow},
        {"remove", &Scenario::DoRemove},
        {"installed", &Scenario::DoInstalled},
        {"mentions", &Scenario::DoMentions},
        {"pending", &Scenario::DoPending},
        {"hold", &Scenario::DoHold},
        {"manifest", &Scenario::DoManifest},
        {"release", &Scenario::DoRelease},
        {"detect-from", &Scenario::DoDetectFrom},
        {"detect", &Scenario::DoDetect},
        {"started", &Scenario::DoStarted},
        {"register", &Scenario::DoRegister},
        {"unregister", &Scenario::DoRegister},
        {"without-approved", &Scenario::DoWithoutApproved},
        {"xp", &Scenario::DoXp},
        {"dpi", &Scenario::DoDpi},
        {"host", &Scenario::DoHost},
        {"host-nolog", &Scenario::DoHost},
        {"console", &Scenario::DoConsole},
        {"no-console", &Scenario::DoConsole},
    };
    return commands;
  }

  void DoModule(const std::string&, std::string rest) { module_.reset(new ModuleCopy(Wide(rest))); }

  // the build whose fault points throw on request
  void DoFaultModule(const std::string&, std::string) {
    module_.reset(new ModuleCopy(L"faults", ProgramFolder() + L"\\..\\faults"));
  }

  void DoConfig(const std::string&, std::string rest) { ASSERT_TRUE(Module().WriteConfig(rest)); }

  void DoNoConfig(const std::string&, std::string) { DeleteFileW(Module().config_path().c_str()); }

  void DoCompanion(const std::string&, std::string) {
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\console_standin.exe").c_str(),
                          (Module().folder() + L"\\Velmar.exe").c_str(), FALSE));
  }

  void DoDir(const std::string&, std::string rest) {
    MakeParents(Wide(rest));
    ASSERT_TRUE(CreateDirectoryW(Wide(rest).c_str(), nullptr));
  }

  // PATH TEXT; a path with blanks in double quotes
  void DoFile(const std::string&, std::string rest) {
    std::string path, text;
    PathAndText(rest, &path, &text);
    MakeParents(Wide(path));
    ASSERT_TRUE(WriteTextFile(Wide(path), text));
  }

  // PATH VERSION BITS
  void DoPython(const std::string&, std::string rest) {
    std::vector<std::string> words = Words(rest);
    ASSERT_EQ(words.size(), 3u);
    std::string path = words[0], version = words[1], bits = words[2];
    ASSERT_TRUE(
        CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(), Wide(path).c_str(), FALSE));
    std::string folder = path.substr(0, path.rfind('\\'));
    ASSERT_TRUE(WriteTextFile(Wide(folder + "\\standin.cfg"),
                              "version=" + version + "\nbits=" + bits + "\n"));
  }

  // PATH VERSION|- BITS: what its files record
  void DoPythonFile(const std::string&, std::string rest) {
    std::vector<std::string> words = Words(rest);
    ASSERT_EQ(words.size(), 3u);
    MakeParents(Wide(words[0]));
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(),
                          Wide(words[0]).c_str(), FALSE));
    ASSERT_TRUE(RecordInExecutable(Wide(words[0]), words[1], words[2]));
    std::string folder = words[0].substr(0, words[0].rfind('\\'));
    ASSERT_TRUE(WriteTextFile(Wide(folder + "\\standin.cfg"), "version=9.9.9\nbits=64\n"));
  }

  // LINK TARGET: a symbolic link as Linux makes it
  void DoLink(const std::string&, std::string rest) {
    std::vector<std::string> paths = Words(rest);
    ASSERT_EQ(paths.size(), 2u);
    ASSERT_TRUE(MakeUnixLink(Wide(paths[0]), Wide(paths[1])));
  }

  void DoCopy(const std::string&, std::string rest) {
    std::vector<std::string> files = Words(rest);
    ASSERT_EQ(files.size(), 2u);
    ASSERT_TRUE(CopyFileW(Wide(files[0]).c_str(), Wide(files[1]).c_str(), FALSE));
  }

  // PATH SOURCE: SOURCE at PATH until the end, then back
  void DoStandIn(const std::string&, std::string rest) {
    std::vector<std::string> files = Words(rest);
    ASSERT_EQ(files.size(), 2u);
    std::wstring path = Wide(files[0]), saved = path + L".scenario-saved";
    ASSERT_TRUE(MoveFileExW(path.c_str(), saved.c_str(), MOVEFILE_REPLACE_EXISTING));
    replaced_.push_back(path);
    ASSERT_TRUE(CopyFileW(Wide(files[1]).c_str(), path.c_str(), FALSE));
  }

  // PATH MS: held for MS ms, shared for reading only
  void DoLockFile(const std::string&, std::string rest) {
    std::vector<std::string> words = Words(rest);
    ASSERT_EQ(words.size(), 2u);
    HANDLE file = CreateFileW(Wide(words[0]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    struct Lock {
      HANDLE file;
      DWORD ms;
    };
    ScopedHandle thread(CreateThread(
        nullptr, 0,
        [](void* held) -> DWORD {
          auto* lock = static_cast<Lock*>(held);
          Sleep(lock->ms);
          CloseHandle(lock->file);
          delete lock;
          return 0;
        },
        new Lock{file, static_cast<DWORD>(std::stoul(words[1]))}, 0, nullptr));
    ASSERT_TRUE(thread);
    lockers_.push_back(std::move(thread));
  }

  // NEW EXISTING: a second name for a file
  void DoHardlink(const std::string&, std::string rest) {
    std::vector<std::string> paths = Words(rest);
    ASSERT_EQ(paths.size(), 2u);
    ASSERT_TRUE(CreateHardLinkW(Wide(paths[0]).c_str(), Wide(paths[1]).c_str(), nullptr));
  }

  // a tree outside %ROOT%, removed at the end
  void DoCleanup(const std::string&, std::string rest) { cleanup_.push_back(Wide(rest)); }

  void DoExists(const std::string&, std::string rest) {
    Print("exists " + rest + ": " +
          (GetFileAttributesW(Wide(rest).c_str()) != INVALID_FILE_ATTRIBUTES ? "yes" : "no"));
  }

  // NAME VALUE for the programs started after it; - as before
  void DoEnv(const std::string&, std::string rest) {
    std::string name = rest.substr(0, rest.find(' ')), value = rest.substr(name.size() + 1);
    for (const auto& variable : variables_) {
      if (value == "-" && variable.first == Wide(name)) {
        SetEnvironmentVariableW(variable.first.c_str(),
                                variable.second.set ? variable.second.value.c_str() : nullptr);
        return;
      }
    }
    Saved before;
    before.set = CommandUtils::get_variable(Wide(name).c_str(), before.value);
    variables_.emplace_back(Wide(name), before);
    SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str());
  }

  // loads into one record for the whole scenario
  void DoSettings(const std::string&, std::string rest) {
    bool loaded = settings_.load(Wide(rest));
    const Config& c = settings_.config;
    Print("settings " + rest + ": loaded=" + std::to_string(loaded) + " version=\"" + c.version +
          "\" description=\"" + c.description + "\" command_line=\"" + c.command_line +
          "\" log_level=" + std::to_string(c.log_level));
    for (const PythonEntry& e : c.python)
      Print("  python \"" + e.path + "\" \"" + e.version + "\" \"" + e.bits + "\" \"" + e.desc +
            "\" label \"" + menu_label(e) + "\"");
  }

  void DoVenv(const std::string&, std::string rest) {
    std::wstring name = L"stale";
    bool found = CommandUtils::get_venv_prompt(Wide(rest), name);
    Print("venv " + rest + ": " + (found ? "found" : "none") + " \"" + Utf8(name) + "\"");
  }

  void DoProbe(const std::string&, std::string rest) {
    std::wstring version, bits;
    bool ok = CommandUtils::probe_python(Wide(rest), version, bits);
    Print("probe " + rest + ": ok=" + std::to_string(ok) + " version=\"" + Utf8(version) +
          "\" bits=\"" + Utf8(bits) + "\"");
  }

  // NAME`VERSION`BITS, as they came
  void DoPrompt(const std::string&, std::string rest) {
    std::wstring text = Wide(rest);
    size_t first = text.find(L'`'), second = text.find(L'`', first + 1);
    Print("prompt: " + Utf8(CExtensionsShellEx::ComposePrompt(
                           text.substr(0, first), text.substr(first + 1, second - first - 1),
                           text.substr(second + 1))));
  }

  void DoSplit(const std::string&, std::string rest) {
    std::wstring program, arguments;
    bool ok = CommandUtils::split_command_line(Wide(rest), program, arguments);
    Print("split: ok=" + std::to_string(ok) + " program=\"" + Utf8(program) + "\" arguments=\"" +
          Utf8(arguments) + "\"");
  }

  // HKCR|HKCU|HKLM 64|32 KEY NAME|- VALUE: a text value
  void DoReg(const std::string&, std::string rest) {
    std::istringstream words(rest);
    std::string root, view, key, name, value;
    words >> root >> view >> std::quoted(key, '"', '\0') >> name;
    std::getline(words >> std::ws, value);
    Key made = {root == "HKCU"   ? HKEY_CURRENT_USER
                : root == "HKCR" ? HKEY_CLASSES_ROOT
                                 : HKEY_LOCAL_MACHINE,
                static_cast<REGSAM>(view == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY), Wide(key),
                name == "-" ? L"" : Wide(name)};
    // Removed at the end: the highest key this made, or else the value.
    for (size_t at = 0; at != std::string::npos;) {
      at = key.find('\\', at + 1);
      HKEY existing = nullptr;
      if (RegOpenKeyExW(made.hive, Wide(key.substr(0, at)).c_str(), 0, KEY_READ | made.view,
                        &existing)) {
        made = {made.hive, made.view, Wide(key.substr(0, at)), L"", true};
        break;
      }
      RegCloseKey(existing);
    }
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(made.hive, Wide(key).c_str(), 0, nullptr, 0, KEY_WRITE | made.view,
                              nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    std::wstring text = Wide(value);
    RegSetValueExW(handle, name == "-" ? nullptr : Wide(name).c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    keys_.push_back(made);
  }

  // a program's full exit code (its own quoting)
  void DoRun(const std::string&, std::string rest) {
    if (rest.find("msiexec") != std::string::npos) packages_used_ = true;
    Print("run " + rest + ": exit=" + std::to_string(RunAndWait(Wide(rest), 180000)));
  }

  // [FOLDER] COMMAND LINE:
  void DoProgram(const std::string& command, std::string rest) {
    std::string folder;  // its exit code and what it printed
    if (command == "program-in") {
      PathAndText(rest, &folder, &rest);
      Print("in " + folder + ":");
    }
    CapturedRun run = RunUnderDebugger(Wide(rest), 60000, Wide(folder));
    Print("program " + rest + ": " +
          (run.started ? "exit=" + std::to_string(run.exit_code)
                       : "not started (" + run.start_failure + ")"));
    std::istringstream lines(run.output);
    for (std::string entry; std::getline(lines, entry);)
      Print("| " + entry.substr(0, entry.find_last_not_of('\r') + 1));
  }

  // what the package and registration may touch
  void DoSnapshot(const std::string&, std::string) { snapshot_ = TakeSnapshot(PackageAreas()); }

  void DoChanges(const std::string& command, std::string) {
    // The registry since the last snapshot or changes; value-changes leaves out the keys added
    // (in the prefix the scenarios share, another may have left the folders above ours).
    RegistrySnapshot now = TakeSnapshot(PackageAreas());
    transcript_ += Changes(snapshot_, now, command == "changes");
    snapshot_ = now;
  }

  // two files' bytes
  void DoSame(const std::string&, std::string rest) {
    std::vector<std::string> files = Words(rest);
    ASSERT_EQ(files.size(), 2u);
    std::string first = ReadTextFile(Wide(files[0]));
    Print("same " + rest + ": " +
          (!first.empty() && first == ReadTextFile(Wide(files[1])) ? "yes" : "no"));
  }

  void DoShow(const std::string&, std::string rest) {
    Print("show " + rest + ":");
    std::istringstream lines(ReadTextFile(Wide(Words(rest)[0])));
    for (std::string entry; std::getline(lines, entry);)
      Print("| " + entry.substr(0, entry.find_last_not_of('\r') + 1));
  }

  void DoRemove(const std::string&, std::string rest) { RemoveTree(Wide(Words(rest)[0])); }

  // [user]: what the system lists of the product
  void DoInstalled(const std::string&, std::string rest) {
    const bool user = rest == "user";
    Print(
        "installed: products=" +
        std::to_string(
            RelatedProducts(user ? L"" VELMAR_USER_UPGRADE_CODE : L"" VELMAR_UPGRADE_CODE).size()) +
        " programs-list=" +
        std::to_string(ProgramsListEntries(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE)) +
        " start-menu=" + std::to_string(StartMenuShortcuts()));
  }

  // TEXT...: registry entries naming any of them
  void DoMentions(const std::string&, std::string rest) {
    std::vector<std::wstring> texts;
    for (const std::string& word : Words(rest)) texts.push_back(Wide(word));
    std::vector<std::string> found = RegistryMentions(texts);
    Print("mentions " + rest + ": " + (found.empty() ? "none" : std::to_string(found.size())));
    for (const std::string& entry : found) Print("  " + entry);
  }

  // whether a restart is to replace the file
  void DoPending(const std::string&, std::string rest) {
    Print("pending " + rest + ": " +
          (PendingRenames().find(rest) != std::string::npos ? "yes" : "no"));
  }

  // [DLL]: a process holding the handler, as Explorer
  void DoHold(const std::string&, std::string rest) {
    const std::wstring event_name = L"VelmarModuleHeld" + std::to_wstring(GetCurrentProcessId());
    ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    std::wstring line = L"\"" + ProgramFolder() + L"\\module_holder.exe\" " + event_name +
                        (rest.empty() ? L"" : L" \"" + Wide(Words(rest)[0]) + L"\"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    holder_.reset(info.hProcess);
    CloseHandle(info.hThread);
    HANDLE waits[] = {ready.get(), holder_.get()};
    ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 30000), WAIT_OBJECT_0);
  }

  // an XML file's or a program's manifest, element by element
  void DoManifest(const std::string&, std::string rest) {
    std::string text = rest.size() > 4 && rest.compare(rest.size() - 4, 4, ".exe") == 0
                           ? EmbeddedManifest(Wide(rest))
                           : ReadTextFile(Wide(rest));
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
      Print("manifest " + rest + ": not well-formed: " + document.ErrorStr());
    } else {
      Print("manifest " + rest + ":");
      PrintElements(document.RootElement(), 1, &transcript_);
    }
  }

  void DoRelease(const std::string&, std::string) { Release(); }

  // SOURCE VALUE (see Sources)
  void DoDetectFrom(const std::string&, std::string rest) {
    std::string what = rest.substr(0, rest.find(' '));
    std::wstring value = rest.size() > what.size() ? Wide(rest.substr(what.size() + 1)) : L"";
    const std::pair<const char*, std::wstring*> folders[] = {
        {"profile", &sources_.user_profile},
        {"appdata", &sources_.app_data},
        {"local", &sources_.local_app_data},
        {"programdata", &sources_.program_data},
        {"programfiles", &sources_.program_files},
        {"pyenv", &sources_.pyenv},
        {"uv", &sources_.uv_python},
        {"winpython", &sources_.winpython_home},
        {"chocolatey", &sources_.chocolatey_tools},
        {"conda-envs", &sources_.conda_envs_path},
        {"condarc", &sources_.condarc},
        {"pixi", &sources_.pixi_home},
        {"poetry", &sources_.poetry_virtualenvs},
        {"workon", &sources_.workon_home},
        {"hatch", &sources_.hatch_data},
        {"start", &sources_.start_folder},
        {"path", &sources_.path}};
    for (const auto& folder : folders)
      if (what == folder.first) *folder.second = value;
    if (what == "registry") sources_.registry = value == L"yes";
    if (what == "drive") sources_.fixed_drives.push_back(value);
    if (what == "conda") sources_.conda_roots.push_back(value);
    if (what == "configured") settings_.config.python.push_back({Ascii(value), "", "", ""});
  }

  // what Detect finds and offers; whether it started any
  void DoDetect(const std::string&, std::string) {
    for (const std::wstring& path : FindInterpreters(sources_)) Print("found " + Ascii(path));
    for (const PythonEntry& entry : NewInterpreters(settings_.config, sources_))
      Print("offered " + entry.path + " " + entry.version + " " + entry.bits);
    Print(std::string("started: ") + (AnyStarted(root_.path()) ? "some" : "none"));
  }

  // whether any stand-in below %ROOT% was started
  void DoStarted(const std::string&, std::string) {
    Print(std::string("started: ") + (AnyStarted(root_.path()) ? "some" : "none"));
  }

  void DoRegister(const std::string& command, std::string) {
    // Right after another of these the registry is as that one left it.
    RegistrySnapshot before = previous_ == "register" || previous_ == "unregister"
                                  ? std::move(registration_)
                                  : TakeSnapshot(RegistrationAreas());
    unsigned long code = command == "register" ? Module().Register() : Module().Unregister();
    registered_ = command == "register" && code == 0;
    Print(command + "=" + std::to_string(code));
    registration_ = TakeSnapshot(RegistrationAreas());
    transcript_ += Changes(before, registration_, false);
  }

  // as for a user who may not write HKLM
  void DoWithoutApproved(const std::string&, std::string) {
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kApprovedKey), ERROR_SUCCESS);
    approved_removed_ = true;
  }

  // Wine pretends Windows XP to the host alone
  void DoXp(const std::string&, std::string) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"winxp"),
                   sizeof(L"winxp"));
    RegCloseKey(key);
  }

  // Wine's screen resolution for the programs started next
  void DoDpi(const std::string&, std::string rest) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kDesktop, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    DWORD dpi = static_cast<DWORD>(std::stoul(rest));
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof(dpi));
    RegCloseKey(key);
    dpi_set_ = true;
  }

  // the latter for soaks
  void DoHost(const std::string& command, std::string rest) { Host(rest, command == "host"); }

  void DoConsole(const std::string& command, std::string) {
    std::string record = command == "console" ? WaitForRecord(RecordPath()) : "";
    if (command == "no-console") Sleep(2000);  // what cmd would have started has started
    if (record.empty()) record = ReadTextFile(RecordPath());
    if (record.empty()) Print("console: none");
    std::istringstream lines(record);
    for (std::string entry; std::getline(lines, entry);) Print("console: " + entry);
    DeleteFileW(RecordPath().c_str());
  }

  std::string transcript() const {
    std::string text = transcript_;
    std::string path(32768, '\0');
    path.resize(GetEnvironmentVariableA("PATH", &path[0], 32768));
    ReplaceAll(&text, path, "%PATH%");
    if (module_) ReplaceAll(&text, Ascii(module_->folder()), "%MODULE%");
    ReplaceAll(&text, Ascii(root_.path()), "%ROOT%");
    ReplaceAll(&text, LocalAppData(), "%LOCALAPPDATA%");
    ReplaceAll(&text, ShortRoot(), "%SHORTROOT%");
    ReplaceAll(&text, Ascii(ProgramFolder()), "%BIN%");
    ReplaceAll(&text, Ascii(kModuleFileName), "%MODULE_FILE%");
    ReplaceAll(&text, "-" VELMAR_VERSION "-", "-%VERSION%-");
    return text;
  }

 private:
  static constexpr const wchar_t* kAppDefaults = L"Software\\Wine\\AppDefaults\\shell_host.exe";
  static constexpr const wchar_t* kDesktop = L"Control Panel\\Desktop";

  ModuleCopy& Module() {
    if (!module_) module_.reset(new ModuleCopy());
    return *module_;
  }
  std::wstring RecordPath() const { return root_.path() + L"\\console-record.txt"; }

  void Expand(std::string* text) {
    ReplaceAll(text, "%SHORTROOT%", ShortRoot());
    ReplaceAll(text, "%ROOT%", Ascii(root_.path()));
    ReplaceAll(text, "%LOCALAPPDATA%", LocalAppData());
    ReplaceAll(text, "%BIN%", Ascii(ProgramFolder()));
    ReplaceAll(text, "%VERSION%", VELMAR_VERSION);
    ReplaceAll(text, "%MODULE_FILE%", Ascii(kModuleFileName));
    if (text->find("%MODULE%") != std::string::npos)
      ReplaceAll(text, "%MODULE%", Ascii(Module().folder()));
  }

  void Print(const std::string& line) { transcript_ += line + "\n"; }

  static std::string LocalAppData() {
    std::wstring folder;
    CommandUtils::get_variable(L"LOCALAPPDATA", folder);
    return Ascii(folder);
  }

  // The root by its short (8.3) name.
  std::string ShortRoot() const {
    wchar_t short_root[MAX_PATH] = {};
    GetShortPathNameW(root_.path().c_str(), short_root, MAX_PATH);
    return Ascii(short_root);
  }

  void Host(const std::string& steps, bool with_log) {
    if (!registered_ && !packages_used_) {  // not when the package installed one
      ASSERT_EQ(Module().Register(), 0u);
      registered_ = true;
    }
    SetEnvironmentVariableW(L"VELMAR_CONSOLE_RECORD", RecordPath().c_str());
    Print("$ host " + steps);
    CapturedRun run =
        RunUnderDebugger(L"\"" + ProgramFolder() + L"\\shell_host.exe\" " + Wide(steps));
    RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
    ASSERT_TRUE(run.started) << "shell_host.exe not started: " << run.start_failure;
    transcript_ += run.output;
    if (run.exit_code != 0) Print("exit=" + std::to_string(run.exit_code));
    if (run.access_violations) Print("access violations: " + std::to_string(run.access_violations));
    static const std::regex pointer("=(?!0{16})[0-9A-F]{16}\\)");
    for (const std::string& line : run.debug_lines)
      if (with_log) Print("log: " + std::regex_replace(line, pointer, "=PTR)"));
  }

  TempDir root_;
  std::unique_ptr<ModuleCopy> module_;
  Configure settings_;
  struct Saved {
    bool set = false;
    std::wstring value;
  };
  std::vector<std::pair<std::wstring, Saved>> variables_;  // put back as they were, last first
  std::vector<std::wstring> cleanup_, replaced_;
  std::vector<ScopedHandle> lockers_;
  void Release() {
    if (!holder_) return;
    TerminateProcess(holder_.get(), 0);
    WaitForSingleObject(holder_.get(), 10000);
    holder_.reset();
  }

  struct Key {
    HKEY hive;
    REGSAM view;
    std::wstring path, value;
    bool whole = false;  // the key itself, or only the value
  };
  std::vector<Key> keys_;
  Sources sources_ = NoSources();
  RegistrySnapshot snapshot_, registration_;
  std::string previous_;
  ScopedHandle holder_;
  bool registered_ = false, approved_removed_ = false, dpi_set_ = false, packages_used_ = false;
  std::string transcript_;
};

class ScenarioTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioTest, Transcript) {
  std::wstring path = ScenarioFolder() + L"\\" + Wide(GetParam()) + L".txt";
  std::string text = ReadTextFile(path);
  size_t separator = text.find(std::string("\n") + kSeparator + "\n");
  ASSERT_NE(separator, std::string::npos) << "no " << kSeparator << " line";
  std::string script = text.substr(0, separator + 1);
  std::string expected = text.substr(separator + sizeof(kSeparator) + 1);
  Scenario scenario;
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    scenario.Run(line);
    if (HasFatalFailure()) return;
  }
  std::string actual = scenario.transcript();
  if (GetEnvironmentVariableW(L"VELMAR_SCENARIO_UPDATE", nullptr, 0) > 0)
    WriteTextFile(path, script + kSeparator + "\n" + actual);
  EXPECT_EQ(actual, expected);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioTest, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
