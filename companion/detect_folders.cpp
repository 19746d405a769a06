// Detect's sources that are folders: conda and pixi, the tools' installations and
// environments, the start folder. Each looks a fixed number of levels below its roots.
#include "command/command_utils.h"
#include "command/project_environment.h"
#include "common/paths.h"
#include "companion/found_interpreters.h"
#include "companion/installed_versions.h"
#include "companion/tool_settings.h"

namespace {

bool NameStarts(const std::wstring& path, const wchar_t* prefix) {
  return _wcsnicmp(CommandUtils::base_name(path).c_str(), prefix, wcslen(prefix)) == 0;
}

std::vector<std::wstring> SplitList(const std::wstring& list) {
  std::vector<std::wstring> items;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(L';', start);
    if (end == std::wstring::npos) end = list.size();
    std::wstring item = CleanPath(list.substr(start, end - start));
    if (!item.empty()) items.push_back(item);
    start = end + 1;
  }
  return items;
}

// `default_folder` when the variable gives none.
std::wstring Either(const std::wstring& variable, const std::wstring& default_folder) {
  return CleanPath(variable.empty() ? default_folder : variable);
}

// A folder below a base that may be unknown (then nothing is looked at).
std::wstring Below(const std::wstring& base, const wchar_t* rest) {
  return base.empty() ? L"" : CleanPath(base + L"\\" + rest);
}

// Every environment of the `kinds` asked directly inside `folder` (a query or two each).
void EnvironmentsIn(const Listing& folder, int kinds, FoundInterpreters* found) {
  std::vector<std::wstring> interpreters(folder.folders.size());
  InParallel(interpreters.size(), [&](size_t i) {
    interpreters[i] = EnvironmentInterpreter(folder.folders[i].path, kinds);
  });
  for (const std::wstring& interpreter : interpreters) found->Add(interpreter);
}
void EnvironmentsIn(const std::wstring& folder, int kinds, FolderWalk* walk,
                    FoundInterpreters* found) {
  EnvironmentsIn(walk->Enter(folder), kinds, found);
}

// A folder a settings file names: ~ is the profile, %VARIABLES% are this process's.
std::wstring Expanded(const std::wstring& written, const std::wstring& user_profile) {
  std::wstring text = written;
  if (!text.empty() && text[0] == L'~' &&
      (text.size() == 1 || text[1] == L'\\' || text[1] == L'/')) {
    if (user_profile.empty()) return L"";
    text = user_profile + text.substr(1);
  }
  wchar_t expanded[MAX_PATH * 2];
  DWORD length = ExpandEnvironmentStringsW(text.c_str(), expanded, MAX_PATH * 2);
  if (length == 0 || length > MAX_PATH * 2 || !CommandUtils::is_full_path(expanded)) return L"";
  return CleanPath(expanded);
}

std::vector<std::wstring> RecordLines(const std::wstring& path) {
  std::vector<std::wstring> lines;
  if (!path.empty()) ReadRecordLines(path, &lines);
  return lines;
}

// WinPython folders (WPy64-<n>, WPy32-<n>, WPy-<n>) in `listing`, and when `itself` the
// interpreters of the listed folder as a WinPython folder: python-X.Y.Z.amd64 (python-X.Y.Z
// when 32-bit) up to 2024, python since 2025.
void WinPythonsIn(const Listing& listing, bool itself, FolderWalk* walk, FoundInterpreters* found) {
  for (const Subfolder& child : listing.folders) {
    if (itself && (_wcsicmp(CommandUtils::base_name(child.path).c_str(), L"python") == 0 ||
                   NameStarts(child.path, L"python-")))
      found->Add(child.path + L"\\python.exe");
    if (NameStarts(child.path, L"WPy64-") || NameStarts(child.path, L"WPy32-") ||
        NameStarts(child.path, L"WPy-"))
      WinPythonsIn(walk->Enter(child), true, walk, found);
  }
}

}  // namespace

std::wstring EnvironmentInterpreter(const std::wstring& folder, const Listing& holds) {
  if (holds.HasFile(L"pyvenv.cfg") && holds.HasFolder(L"Scripts") &&
      file_exists(folder + L"\\Scripts\\python.exe"))
    return folder + L"\\Scripts\\python.exe";
  if (holds.HasFolder(L"conda-meta") && holds.HasFile(L"python.exe"))
    return folder + L"\\python.exe";
  return L"";
}

// conda's list of the environments it made (lines of removed ones stay behind), its bases and
// their envs\, the envs folders its settings name, and pixi's.
void FromConda(const Sources& sources, FoundInterpreters* found) {
  FolderWalk walk;
  const std::wstring& profile = sources.user_profile;
  for (const std::wstring& line : RecordLines(Below(profile, L".conda\\environments.txt"))) {
    const std::wstring prefix = CleanPath(line.substr(0, line.find_last_not_of(L" \t") + 1));
    if (!prefix.empty() && IsFolder(prefix)) found->Add(EnvironmentInterpreter(prefix));
  }
  std::vector<std::wstring> roots;
  for (const std::wstring& root : sources.conda_roots) roots.push_back(CleanPath(root));
  for (const std::wstring& base : {profile, sources.program_data})
    for (const wchar_t* name : {L"anaconda3", L"miniconda3", L"miniforge3", L"mambaforge"})
      if (!base.empty()) roots.push_back(Below(base, name));
  std::vector<std::wstring> envs_dirs;
  std::vector<std::wstring> settings = {
      Below(profile, L".condarc"), Below(profile, L".conda\\.condarc"),
      Below(profile, L".config\\conda\\.condarc"), Below(sources.program_data, L"conda\\.condarc")};
  for (const std::wstring& root : roots) {
    found->Add(EnvironmentInterpreter(root));  // the base itself
    envs_dirs.push_back(root + L"\\envs");
    settings.push_back(root + L"\\.condarc");
  }
  envs_dirs.push_back(Below(profile, L".conda\\envs"));
  envs_dirs.push_back(Below(sources.local_app_data, L"conda\\conda\\envs"));
  for (const std::wstring& folder : SplitList(sources.conda_envs_path)) envs_dirs.push_back(folder);
  settings.push_back(CleanPath(sources.condarc));
  for (const std::wstring& file : settings)
    for (const std::wstring& folder : CondarcEnvsDirs(RecordLines(file)))
      envs_dirs.push_back(Expanded(folder, profile));
  for (const std::wstring& folder : envs_dirs) EnvironmentsIn(folder, kCondaPrefix, &walk, found);
  const std::wstring pixi = Either(sources.pixi_home, Below(profile, L".pixi"));
  EnvironmentsIn(Below(pixi, L"envs"), kCondaPrefix, &walk, found);
}

// Installations (WinPython, pyenv-win, uv) and the environments tools make (Poetry, Pipenv and
// virtualenvwrapper, Hatch).
void FromTools(const Sources& sources, FoundInterpreters* found) {
  const std::wstring& profile = sources.user_profile;
  {
    FolderWalk walk;
    std::vector<std::wstring> roots = sources.fixed_drives;
    for (const std::wstring& root :
         {profile, Below(profile, L"WinPython"), sources.program_files, sources.chocolatey_tools})
      roots.push_back(CleanPath(root));
    for (const std::wstring& root : roots) WinPythonsIn(walk.Enter(root), false, &walk, found);
    for (const std::wstring& folder : SplitList(sources.winpython_home))
      WinPythonsIn(walk.Enter(folder), true, &walk,
                   found);  // a WinPython folder itself, or one holding them
  }
  {
    FolderWalk walk;
    const std::wstring pyenv = Either(sources.pyenv, Below(profile, L".pyenv\\pyenv-win"));
    if (!pyenv.empty())
      for (const Subfolder& version : walk.Enter(pyenv + L"\\versions").folders)
        found->Add(version.path + L"\\python.exe");
  }
  {
    FolderWalk walk;
    for (const std::wstring& folder :
         {Either(sources.uv_python, Below(sources.app_data, L"uv\\python")),
          Below(sources.app_data, L"uv\\data\\python")}) {
      if (folder.empty()) continue;
      for (const Subfolder& install : walk.Enter(folder).folders)
        if (!NameStarts(install.path, L".")) found->Add(install.path + L"\\python.exe");  // .cache
    }
  }
  {
    FolderWalk walk;
    std::wstring poetry = sources.poetry_virtualenvs;
    const std::wstring cache = Below(sources.local_app_data, L"pypoetry\\Cache");
    if (poetry.empty() && !sources.app_data.empty()) {
      poetry =
          PoetryVirtualenvsPath(RecordLines(Below(sources.app_data, L"pypoetry\\config.toml")));
      const size_t placeholder = poetry.find(L"{cache-dir}");
      if (placeholder != std::wstring::npos) poetry.replace(placeholder, 11, cache);
    }
    EnvironmentsIn(Either(poetry, Below(cache, L"virtualenvs")), kVirtualEnvironment, &walk, found);
    for (const std::wstring& folder :
         {CleanPath(sources.workon_home), Below(profile, L".virtualenvs"), Below(profile, L"Envs")})
      EnvironmentsIn(folder, kVirtualEnvironment, &walk, found);
  }
  {
    FolderWalk walk;
    const std::wstring hatch = Either(sources.hatch_data, Below(sources.local_app_data, L"hatch"));
    if (!hatch.empty())
      for (const Listing& project : walk.EnterAll(walk.Enter(hatch + L"\\env\\virtual").folders))
        for (const Listing& hash : walk.EnterAll(project.folders))
          EnvironmentsIn(hash, kVirtualEnvironment, found);
  }
}

// The start folder itself, what lies up to two levels inside it (a found environment is not
// entered), and the folders above it themselves; in the start folder and the three folders
// above it also the environments the project item looks for, by name: never the other
// folders beside those, which may hold anything downloaded.
void FromStartFolder(const std::wstring& start, FoundInterpreters* found) {
  FolderWalk walk;
  found->Add(EnvironmentInterpreter(start));
  const std::vector<Subfolder> children = walk.Enter(start).folders;
  const std::vector<Listing> insides = walk.EnterAll(children);
  for (size_t i = 0; i < children.size(); ++i) {
    const std::wstring interpreter = EnvironmentInterpreter(children[i].path, insides[i]);
    if (!interpreter.empty())
      found->Add(interpreter);
    else
      EnvironmentsIn(insides[i], kAnyEnvironment, found);
  }
  int level = 0;
  for (std::wstring folder = start; !folder.empty(); folder = CommandUtils::dir_name(folder)) {
    if (level > 0) found->Add(EnvironmentInterpreter(folder));
    if (level++ <= kProjectLevelsUp) {
      for (const wchar_t* name : kProjectEnvironmentFolders)
        found->Add(EnvironmentInterpreter(folder + L"\\" + name));
      EnvironmentsIn(folder + L"\\" + kPixiEnvironments, kCondaPrefix, &walk, found);
    }
    if (folder.size() <= 3) break;  // "C:\"
  }
}
