// Finding the Python interpreters installed on this machine, for the companion's Detect.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "config/configure.h"

// Where detection looks; Sources::FromSystem() gives this machine's and this user's.
struct Sources {
  bool registry = true;                   // HKCU and HKLM \Software\Python, both registry views
  std::wstring user_profile;              // %USERPROFILE%: .conda\environments.txt, miniconda3, ...
  std::vector<std::wstring> conda_roots;  // further conda installations (their envs\ folders)
  std::wstring start_folder;              // virtual environments here and in the folders above
  std::wstring path;                      // %PATH%
  std::wstring local_app_data;            // %LOCALAPPDATA%: the Store's alias stubs live below it

  static Sources FromSystem();
};

// Executables found, each once (paths compared without letter case), in the order: registry
// (HKCU before HKLM), conda, virtual environments, PATH. Only files that exist.
std::vector<std::wstring> FindInterpreters(const Sources& sources);

// The entry for an interpreter, with the version and pointer width it answers (each empty when
// it gives none). False when config.cfg, which holds its texts in the ANSI code page, cannot
// hold the path: such a path is refused rather than saved garbled.
bool EntryFor(const std::wstring& path, PythonEntry* entry);

// The found interpreters that `config` does not list yet, probed for version and pointer width
// (an interpreter whose probe gives no version is not offered).
std::vector<PythonEntry> NewInterpreters(const Config& config, const Sources& sources);

bool SamePath(const std::wstring& a, const std::wstring& b);
