// Finding the Python interpreters installed on this machine, for the companion's Detect.
// Detection never runs what it finds (a folder may hold anything downloaded): versions and
// pointer widths are read from the interpreters' files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/paths.h"
#include "config/configure.h"

// Where detection looks. Sources::FromSystem() gives this machine's and this user's; an empty
// folder is not looked at, an empty tool variable means the tool's default folder.
struct Sources {
  bool registry = true;  // HKCU and HKLM \Software\Python, both registry views
  // This user's and this machine's folders.
  std::wstring user_profile;               // %USERPROFILE%
  std::wstring app_data;                   // %APPDATA%
  std::wstring local_app_data;             // %LOCALAPPDATA%
  std::wstring program_data;               // %ProgramData%
  std::wstring program_files;              // %ProgramFiles%
  std::vector<std::wstring> fixed_drives;  // the roots of the fixed drives, C:\ ...
  // What the tools' variables say.
  std::wstring pyenv;                     // PYENV, else PYENV_ROOT, else PYENV_HOME
  std::wstring uv_python;                 // UV_PYTHON_INSTALL_DIR
  std::wstring winpython_home;            // WINPYTHON_HOME, a ;-list
  std::wstring chocolatey_tools;          // ChocolateyToolsLocation, else C:\tools
  std::wstring conda_envs_path;           // CONDA_ENVS_PATH, a ;-list
  std::wstring condarc;                   // CONDARC
  std::wstring pixi_home;                 // PIXI_HOME
  std::wstring poetry_virtualenvs;        // POETRY_VIRTUALENVS_PATH
  std::wstring workon_home;               // WORKON_HOME
  std::wstring hatch_data;                // HATCH_DATA_DIR
  std::vector<std::wstring> conda_roots;  // further conda installations
  std::wstring start_folder;              // environments here, inside it and above it
  std::wstring path;                      // %PATH%

  static Sources FromSystem();
};

// Executables found, each once (one per folder, whatever its names), in the order: registry
// (HKCU before HKLM), the Store, conda and pixi, the tools' installations and environments,
// the start folder, PATH. Only files that exist.
std::vector<std::wstring> FindInterpreters(const Sources& sources);

// The entry for an interpreter, with `known_version` (what its source said) or else its
// recorded version, and its pointer width (each empty when unknown). A Store alias is read
// through its package.
PythonEntry EntryFor(const std::wstring& path, const std::wstring& known_version = L"");

// The found interpreters that `config` does not list yet, with version and pointer width (one
// without a known version is not offered).
std::vector<PythonEntry> NewInterpreters(const Config& config, const Sources& sources);
