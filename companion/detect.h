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
// (HKCU before HKLM), conda, virtual environments (in the start folder, two levels inside it,
// and the folders above it), PATH. Only files that exist.
std::vector<std::wstring> FindInterpreters(const Sources& sources);

// Detection never runs what it finds (a folder may hold anything downloaded): versions and
// pointer widths are read from the interpreters' files.
// The version its files record (pyvenv.cfg, conda-meta, the executable's version); empty when
// none does.
std::wstring RecordedVersion(const std::wstring& interpreter);
// "64" or "32" from the executable's header; empty when it is no program.
std::wstring PointerWidth(const std::wstring& executable);

// The entry for an interpreter, with `known_version` (what its source said) or else its
// recorded version, and its pointer width (each empty when unknown).
PythonEntry EntryFor(const std::wstring& path, const std::wstring& known_version = L"");

// The found interpreters that `config` does not list yet, with version and pointer width (one
// without a known version is not offered).
std::vector<PythonEntry> NewInterpreters(const Config& config, const Sources& sources);

bool SamePath(const std::wstring& a, const std::wstring& b);
