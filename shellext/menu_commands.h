// The items of the "Python here" submenu, one list for the classic menu and for Windows 11's
// first menu, so that the two can never disagree; and what choosing one does.
#pragma once

#include <string>
#include <vector>

#include "command/project_environment.h"
#include "config/configure.h"

// Beside the module: its settings and the companion application.
constexpr wchar_t kConfigFileName[] = L"config.cfg";
constexpr wchar_t kCompanionFileName[] = L"Velmar.exe";

// The top item: the classic menu's submenu, Windows 11's command with subcommands.
constexpr wchar_t kPythonHereLabel[] = L"Python here";

struct MenuCommand {
  std::wstring label;
  std::wstring path;       // what it runs: an interpreter, or the companion
  bool companion = false;  // its icon is the module's own, else the file's at `path`
  // The start folder's own environment, as its files describe it (`path` is its interpreter).
  bool project = false;
  ProjectEnvironment environment;
};

// When the settings ask for it, the environment of `start_folder`'s project first; one item per
// interpreter entry with a full path (others are logged; the project's own shows once, first);
// then "Open Velmar" when the companion exists.
std::vector<MenuCommand> MenuCommands(const Config& config, const std::wstring& companion_path,
                                      const std::wstring& start_folder);

// Opens the companion in `start_folder`, or opens a console there through the settings' command
// line with the interpreter: a configured one probed first, the project's as its files say.
void RunMenuCommand(const MenuCommand& command, const std::wstring& start_folder,
                    const std::string& command_line);
