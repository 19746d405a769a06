// The items of the "Python here" submenu, one list for the classic menu and for Windows 11's
// first menu, so that the two can never disagree; and what choosing one does.
#pragma once

#include <string>
#include <vector>

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
};

// One item per interpreter entry with a full path (others are logged), then "Open Velmar" when
// the companion exists.
std::vector<MenuCommand> MenuCommands(const Config& config, const std::wstring& companion_path);

// Opens the companion in `start_folder`, or probes the interpreter and opens a console with it
// there through the settings' command line.
void RunMenuCommand(const MenuCommand& command, const std::wstring& start_folder,
                    const std::string& command_line);
