// Starting the console with the interpreter's folders first on PATH and the composed prompt.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <boost/algorithm/string/replace.hpp>
#include <string>
#include <utility>
#include <vector>

#include "command/command_utils.h"
#include "common/classic_text.h"
#include "common/owners.h"
#include "log/log.h"

namespace {

const wchar_t kPromptCommandTemplate[] = L"set PROMPT=(__PROMPT_STRING__) %PROMPT%";

// The host's environment block with `changes` made (names compared without letter case), sorted
// by name as Windows keeps one. The host's own environment is not touched: another thread of the
// host may start a program meanwhile.
std::wstring EnvironmentWith(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
  auto name_of = [](const std::wstring& entry) {  // "=C:=C:\\x" is named "=C:"
    return entry.substr(0, entry.find(L'=', 1));
  };
  auto same = [](const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
  };
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
      bool changed = false;
      for (const auto& change : changes) changed = changed || same(name_of(entry), change.first);
      if (!changed) entries.push_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& change : changes) entries.push_back(change.first + L"=" + change.second);
  std::stable_sort(
      entries.begin(), entries.end(), [&](const std::wstring& a, const std::wstring& b) {
        std::wstring x = name_of(a), y = name_of(b);
        return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                    static_cast<int>(y.size()), TRUE) == CSTR_LESS_THAN;
      });
  std::wstring joined;
  for (const std::wstring& entry : entries) joined += entry + L'\0';
  return joined + L'\0';
}

// A program named without a folder is looked for in the system folder, then on the host's own
// PATH: never in the folder the console starts in (a right-clicked download may bring its own
// cmd.exe) nor in the interpreter's folders (any package may put a cmd.exe in Scripts).
bool ResolveProgram(const std::wstring& program, std::wstring& resolved) {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring path;
  CommandUtils::get_variable(L"PATH", path);
  std::wstring search = std::wstring(system) + L";" + path;
  DWORD size = SearchPathW(search.c_str(), program.c_str(), L".exe", 0, nullptr, nullptr);
  if (size == 0) return false;
  std::wstring found(size, L'\0');
  DWORD length = SearchPathW(search.c_str(), program.c_str(), L".exe", size, &found[0], nullptr);
  if (length == 0 || length >= size) return false;
  found.resize(length);
  resolved = found;
  return true;
}

}  // namespace

namespace CommandUtils {

std::wstring neutralize_prompt_part(const std::wstring& text, bool terminal) {
  std::wstring plain = text.substr(0, kPromptPartLimit);
  for (wchar_t& c : plain)
    if (c < 0x20 || c == 0x7F || c == L'%' || c == L'"' || c == L'!' || (terminal && c == L';'))
      c = L'_';
  return plain;
}

bool starts_windows_terminal(const std::wstring& command_template) {
  std::wstring program, arguments;
  if (!split_command_line(command_template, program, arguments)) return false;
  size_t separator = program.find_last_of(L"\\/");
  std::wstring name = separator == std::wstring::npos ? program : program.substr(separator + 1);
  return _wcsicmp(name.c_str(), L"wt") == 0 || _wcsicmp(name.c_str(), L"wt.exe") == 0;
}

std::wstring escape_prompt_part(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    if (c == L'^' || c == L'&' || c == L'|' || c == L'<' || c == L'>') escaped += L'^';
    if (c == L'$') escaped += L'$';
    escaped += c;
  }
  return escaped;
}

bool split_command_line(const std::wstring& command_line, std::wstring& program,
                        std::wstring& arguments) {
  int count = 0;
  LocalMemory<wchar_t**> argv(CommandLineToArgvW(command_line.c_str(), &count));
  if (!argv.get() || count < 1) return false;
  // The first element ends at its closing quote, or at the first blank when unquoted.
  size_t end = 0;
  if (!command_line.empty() && command_line[0] == L'"') {
    end = command_line.find(L'"', 1);
    end = end == std::wstring::npos ? command_line.size() : end + 1;
  } else {
    end = command_line.find_first_of(L" \t");
    if (end == std::wstring::npos) end = command_line.size();
  }
  program = argv.get()[0];
  arguments = TrimLeftCopy(command_line.substr(end));
  return true;
}

bool open_console(const std::wstring& interpreter, const std::wstring& command_template,
                  const std::wstring& start_folder, const std::wstring& prompt_text,
                  const std::wstring& prefix) {
  const std::wstring prompt_command = boost::algorithm::replace_all_copy(
      std::wstring(kPromptCommandTemplate), L"__PROMPT_STRING__", prompt_text);
  const std::wstring work_dir = start_folder.empty() ? dir_name(interpreter) : start_folder;
  if (work_dir.size() > kStartFolderLimit) {
    log_write(LOG_ERROR, L"Start folder too long for a console: %u characters",
              static_cast<unsigned>(work_dir.size()));
    return false;
  }

  // The template's own variables (%SystemRoot% in the presets) are expanded before the prompt
  // text goes in, so that nothing of the interpreter's folder is ever expanded.
  std::wstring expanded(32768, L'\0');
  DWORD length = ExpandEnvironmentStringsW(command_template.c_str(), &expanded[0], 32768);
  expanded.resize(length > 0 && length <= 32768 ? length - 1 : 0);
  const std::wstring command_line =
      boost::algorithm::replace_all_copy(expanded, L"__PROMPT__", prompt_command);
  std::wstring program, arguments;
  // An empty line would name the host's own program (Explorer) as the one to start.
  if (TrimCopy(command_line).empty() || !split_command_line(command_line, program, arguments)) {
    log_write(LOG_ERROR, L"CommandUtils::split_command_line fail");
    return false;
  }
  // Resolved before PATH names the interpreter's folders.
  if (program.find_first_of(L"\\/:") == std::wstring::npos) {
    std::wstring resolved;
    if (!ResolveProgram(program, resolved)) {
      log_write(LOG_ERROR, L"Console program not found on PATH: %s", program.c_str());
      return false;
    }
    program = resolved;
  }

  // The console's environment: the interpreter's folders first on PATH (and PYTHON_PATH when the
  // host has one), and cmd told to look for programs on PATH only, not in the start folder first.
  std::wstring host_path;
  const bool path_set = get_variable(L"PATH", host_path);
  std::vector<std::pair<std::wstring, std::wstring>> changes = {
      {L"PATH", prefix + (path_set ? host_path : L"")},
      {L"NoDefaultCurrentDirectoryInExePath", L"1"}};
  if (GetEnvironmentVariableW(L"PYTHON_PATH", nullptr, 0) > 0 ||
      GetLastError() != ERROR_ENVVAR_NOT_FOUND)
    changes.push_back({L"PYTHON_PATH", prefix});
  std::wstring environment = EnvironmentWith(changes);
  std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT, &environment[0],
                      work_dir.c_str(), &startup, &started)) {
    // Named as when the shell started the console: what logs are searched for.
    log_write(LOG_ERROR, L"ShellExecute:rCode:%d;arg0:%s;args:%s;workdir:%s",
              static_cast<int>(GetLastError()), program.c_str(), arguments.c_str(),
              work_dir.c_str());
    return false;
  }
  ScopedHandle process(started.hProcess), thread(started.hThread);  // not waited for
  return true;
}

}  // namespace CommandUtils
