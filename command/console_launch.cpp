// Starting the console with the interpreter's folders first on PATH and the composed prompt.
#include <windows.h>
#include <shellapi.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <string>

#include "command/command_utils.h"
#include "command/handle_owners.h"
#include "log/log.h"

namespace {

const wchar_t kPromptCommandTemplate[] = L"set PROMPT=(__PROMPT_STRING__) %PROMPT%";

// Puts a variable of the host process back as it was (set or not set) on every path.
class EnvironmentRestorer {
 public:
  explicit EnvironmentRestorer(const wchar_t* name) : name_(name) {
    was_set_ = CommandUtils::get_variable(name, saved_);
  }
  ~EnvironmentRestorer() { SetEnvironmentVariableW(name_, was_set_ ? saved_.c_str() : nullptr); }
  EnvironmentRestorer(const EnvironmentRestorer&) = delete;
  EnvironmentRestorer& operator=(const EnvironmentRestorer&) = delete;
  const std::wstring& saved() const { return saved_; }

 private:
  const wchar_t* name_;
  bool was_set_ = false;
  std::wstring saved_;
};

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
  arguments = boost::algorithm::trim_left_copy(command_line.substr(end));
  return true;
}

bool open_console(const std::wstring& interpreter, const std::wstring& command_template,
                  const std::wstring& start_folder, const std::wstring& prompt_text) {
  const std::wstring prompt_command = boost::algorithm::replace_all_copy(
      std::wstring(kPromptCommandTemplate), L"__PROMPT_STRING__", prompt_text);
  const std::wstring prefix = python_path_prefix(interpreter);
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
  if (boost::algorithm::trim_copy(command_line).empty() ||
      !split_command_line(command_line, program, arguments)) {
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

  if (GetEnvironmentVariableW(L"PYTHON_PATH", nullptr, 0) > 0)
    SetEnvironmentVariableW(L"PYTHON_PATH", prefix.c_str());
  EnvironmentRestorer path(L"PATH");
  SetEnvironmentVariableW(L"PATH", (prefix + path.saved()).c_str());
  HINSTANCE result = ShellExecuteW(nullptr, L"open", program.c_str(), arguments.c_str(),
                                   work_dir.c_str(), SW_SHOWNORMAL);
  UINT code = static_cast<UINT>(reinterpret_cast<UINT_PTR>(result));
  if (code <= 32) {
    log_write(LOG_ERROR, L"ShellExecute:rCode:%d;arg0:%s;args:%s;workdir:%s",
              static_cast<int>(code), program.c_str(), arguments.c_str(), work_dir.c_str());
    return false;
  }
  return true;
}

}  // namespace CommandUtils
