// The submenu's commands and what a chosen one does: open the companion application, or probe the
// interpreter and open a console with it.
#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/fault_point.h"
#include "common/no_throw.h"
#include "common/paths.h"
#include "command/command_utils.h"
#include "common/text_encoding.h"
#include "log/log.h"
#include "shellext/extensions_shell_ex.h"
#include "shellext/menu_commands.h"

namespace {

const wchar_t kHelpText[] = L"Git shell extensions";
const wchar_t kCompanionLabel[] = L"Open Velmar";

}  // namespace

std::wstring CExtensionsShellEx::ComposePrompt(const std::wstring& venv_name,
                                               const std::wstring& version,
                                               const std::wstring& bits) {
  std::wstring prompt = CommandUtils::escape_prompt_part(venv_name);
  if (!venv_name.empty()) prompt += L"^|";
  return prompt + CommandUtils::escape_prompt_part(version) + L" " +
         CommandUtils::escape_prompt_part(bits);
}

STDMETHODIMP CExtensionsShellEx::InvokeCommand(CMINVOKECOMMANDINFO* pCmdInfo) {
  return NoThrow([&]() -> HRESULT {
    VELMAR_FAULT_POINT(L"InvokeCommand");
    // A verb given as text is a pointer, whatever its bits 16 to 31 hold. Nothing is read past
    // the size the caller gives.
    constexpr DWORD kVerbEnd = offsetof(CMINVOKECOMMANDINFO, lpVerb) + sizeof(LPCSTR);
    if (!pCmdInfo || pCmdInfo->cbSize < kVerbEnd || !IS_INTRESOURCE(pCmdInfo->lpVerb)) {
      log_write(LOG_DEBUG, L"if (pCmdInfo == NULL || 0 != HIWORD(pCmdInfo->lpVerb))\n");
      return E_INVALIDARG;
    }
    UINT offset = LOWORD(reinterpret_cast<ULONG_PTR>(pCmdInfo->lpVerb));
    auto found = m_mapCommands.find(offset);
    if (found == m_mapCommands.end()) {
      log_write(LOG_DEBUG, L"can not find command!\n");
      return E_INVALIDARG;
    }
    log_write(LOG_DEBUG, L"InvokeCommand: %s\n", found->second.path.c_str());
    RunMenuCommand(found->second, m_szFilePath, configure.config.command_line);
    return S_OK;
  });
}

std::vector<MenuCommand> MenuCommands(const Config& config, const std::wstring& companion_path,
                                      const std::wstring& start_folder) {
  std::vector<MenuCommand> commands;
  ProjectEnvironment environment;
  if (config.project_env && FindProjectEnvironment(start_folder, &environment)) {
    MenuCommand project;
    // Digits and dots, 32 or 64, and a name of ours: nothing a menu would read as a mnemonic.
    project.label =
        L"Python " + environment.version + L" " + environment.bits + L"|" + environment.found_as;
    project.path = environment.interpreter;
    project.project = true;
    project.environment = environment;
    commands.push_back(project);
  }
  for (const PythonEntry& entry : config.python) {
    std::wstring path = setting_to_wide(entry.path);
    // A relative path would name a program of whatever folder the host is in.
    if (!CommandUtils::is_full_path(path)) {
      log_write(LOG_ERROR, L"Interpreter left out, not a full path: \"%s\"", path.c_str());
      continue;
    }
    if (!commands.empty() && commands[0].project && SamePath(path, commands[0].path))
      continue;  // the project's own, already first
    commands.push_back({setting_to_wide(menu_label(entry)), path, false, false, {}});
  }
  if (CExtensionsShellEx::FileExists(companion_path.c_str()))
    commands.push_back({kCompanionLabel, companion_path, true, false, {}});
  return commands;
}

void RunMenuCommand(const MenuCommand& command, const std::wstring& start_folder,
                    const std::string& command_line) {
  if (command.companion) {
    HINSTANCE result = ShellExecuteW(nullptr, L"open", command.path.c_str(), nullptr,
                                     start_folder.c_str(), SW_SHOWNORMAL);
    UINT code = static_cast<UINT>(reinterpret_cast<UINT_PTR>(result));
    if (code <= 32) log_write(LOG_DEBUG, L"Cannot open Velmar: %d", static_cast<int>(code));
    return;
  }
  std::wstring version, bits, venv_name, path_prefix;
  if (command.project) {  // never run before the console: its files said what it is
    version = command.environment.version;
    bits = command.environment.bits;
    venv_name = command.environment.name;
    path_prefix = command.environment.path_prefix;
  } else {
    CommandUtils::probe_python(command.path, version, bits);
    CommandUtils::get_venv_prompt(command.path, venv_name);
    path_prefix = CommandUtils::python_path_prefix(command.path);
  }
  // Both come from files in folders anyone may have written: only plain text reaches cmd.
  const std::wstring command_template = setting_to_wide(command_line);
  const bool terminal = CommandUtils::starts_windows_terminal(command_template);
  CommandUtils::open_console(command.path, command_template, start_folder,
                             CExtensionsShellEx::ComposePrompt(
                                 CommandUtils::neutralize_prompt_part(venv_name, terminal),
                                 CommandUtils::neutralize_prompt_part(version, terminal), bits),
                             path_prefix);
}

STDMETHODIMP CExtensionsShellEx::GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT*, LPSTR pszName,
                                                  UINT cchMax) {
  return NoThrow([&]() -> HRESULT {
    VELMAR_FAULT_POINT(L"GetCommandString");
    if (idCmd != 0) return E_INVALIDARG;
    if (!(uFlags & GCS_HELPTEXTA) && !(uFlags & GCS_UNICODE)) return E_INVALIDARG;
    if (uFlags & GCS_VALIDATEA) return S_OK;  // the item exists; a validation writes nothing
    if (!pszName || cchMax == 0) return E_INVALIDARG;
    if (uFlags & GCS_UNICODE) {
      lstrcpynW(reinterpret_cast<LPWSTR>(pszName), kHelpText, static_cast<int>(cchMax));
    } else {
      int length = lstrlenW(kHelpText);
      std::vector<char> narrow(2 * (length + 1), '\0');
      WideCharToMultiByte(CP_THREAD_ACP, 0, kHelpText, -1, narrow.data(),
                          static_cast<int>(narrow.size()), nullptr, nullptr);
      lstrcpynA(pszName, narrow.data(), static_cast<int>(cchMax));
    }
    return S_OK;
  });
}
