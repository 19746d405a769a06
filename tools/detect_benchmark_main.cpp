// Prints what Detect costs where a developer's machine is full: every root it looks in holding
// ENTRIES folders (default 1,000; two of them environments), then a start folder of SUBFOLDERS
// (default 10,000). Beside each figure, what plain listings of the same folders cost one after
// another: each root once; the start folder and each of its subfolders (what a walk two
// levels deep cannot do without).
// Usage: detect_benchmark.exe [ENTRIES [SUBFOLDERS [RUNS]]]   (scripts/benchmark.sh --detect)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "companion/detect.h"
#include "tools/explorer/temp_dir.h"

namespace {

void MakeFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
  CreateDirectoryW(path.c_str(), nullptr);
}

// A virtual environment: what Detect reads of one (its interpreter is an empty file).
void Environment(const std::wstring& folder) {
  MakeFolders(folder + L"\\Scripts");
  WriteTextFile(folder + L"\\pyvenv.cfg", "version = 3.12.4\n");
  WriteTextFile(folder + L"\\Scripts\\python.exe", "");
}

void Filled(const std::wstring& root, int entries, const wchar_t* name_prefix) {
  MakeFolders(root);
  for (int i = 0; i < entries; ++i)
    CreateDirectoryW((root + L"\\" + name_prefix + std::to_wstring(i)).c_str(), nullptr);
  Environment(root + L"\\found-1");
  Environment(root + L"\\found-2");
}

int ListedFolders(const std::wstring& folder) {
  int count = 0;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do ++count;
  while (FindNextFileW(search, &entry));
  FindClose(search);
  return count;
}

double Milliseconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

// The median of `runs` calls of `work`, in milliseconds.
template <typename Work>
double Median(int runs, Work work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    work();
    QueryPerformanceCounter(&end);
    times.push_back(Milliseconds(start, end));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Report(const char* what, const Sources& sources, const std::vector<std::wstring>& listed,
            int runs) {
  size_t found = 0;
  const double detect = Median(runs, [&] { found = NewInterpreters(Config(), sources).size(); });
  int entries = 0;
  const double plain = Median(runs, [&] {
    entries = 0;
    for (const std::wstring& folder : listed) entries += ListedFolders(folder);
  });
  printf(
      "%s: Detect %.0f ms (%zu found); listing %zu folders one after another %.0f ms"
      " (%d entries); median of %d\n",
      what, detect, found, listed.size(), plain, entries, runs);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int entries = argc > 1 ? _wtoi(argv[1]) : 1000;
  const int subfolders = argc > 2 ? _wtoi(argv[2]) : 10000;
  const int runs = argc > 3 ? _wtoi(argv[3]) : 5;
  TempDir tree(L"detect-benchmark");
  const std::wstring base = tree.path();
  Sources sources;
  sources.registry = false;
  sources.user_profile = base + L"\\profile";
  sources.app_data = base + L"\\roaming";
  sources.local_app_data = base + L"\\local";
  sources.program_data = base + L"\\programdata";
  sources.program_files = base + L"\\programs";
  sources.fixed_drives = {base + L"\\drive\\"};
  sources.chocolatey_tools = base + L"\\tools";
  sources.workon_home = base + L"\\workon";
  sources.start_folder = base + L"\\project";
  const std::wstring& profile = sources.user_profile;
  std::vector<std::wstring> roots = {base + L"\\drive",
                                     profile,
                                     profile + L"\\WinPython",
                                     sources.program_files,
                                     sources.chocolatey_tools,
                                     profile + L"\\.pyenv\\pyenv-win\\versions",
                                     sources.app_data + L"\\uv\\python",
                                     sources.local_app_data + L"\\pypoetry\\Cache\\virtualenvs",
                                     profile + L"\\.virtualenvs",
                                     profile + L"\\Envs",
                                     sources.workon_home,
                                     sources.local_app_data + L"\\hatch\\env\\virtual",
                                     profile + L"\\.conda\\envs",
                                     sources.local_app_data + L"\\conda\\conda\\envs",
                                     profile + L"\\.pixi\\envs",
                                     sources.local_app_data + L"\\Microsoft\\WindowsApps",
                                     sources.program_files + L"\\WindowsApps",
                                     sources.start_folder};
  for (const std::wstring& prefix : {profile, sources.program_data})
    for (const wchar_t* name : {L"anaconda3", L"miniconda3", L"miniforge3", L"mambaforge"})
      roots.push_back(prefix + L"\\" + name + L"\\envs");
  for (const std::wstring& root : roots) Filled(root, entries, L"entry-");
  for (int i = 0; i < 100; ++i) {
    const std::wstring folder = base + L"\\path\\bin-" + std::to_wstring(i);
    MakeFolders(folder);
    sources.path += folder + L";";
  }
  printf("Detect under Wine, in-process (Velmar.exe --detect adds one process start)\n");
  Report(("every root holding " + std::to_string(entries) + " folders").c_str(), sources, roots,
         runs);

  Sources start_only;
  start_only.registry = false;
  start_only.start_folder = base + L"\\big";
  Filled(start_only.start_folder, subfolders, L"folder-");
  std::vector<std::wstring> start_and_inside = {start_only.start_folder};
  for (int i = 0; i < subfolders; ++i)
    start_and_inside.push_back(start_only.start_folder + L"\\folder-" + std::to_wstring(i));
  Report(("a start folder of " + std::to_string(subfolders) + " subfolders").c_str(), start_only,
         start_and_inside, runs);
  return 0;
}
