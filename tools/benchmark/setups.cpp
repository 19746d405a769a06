#include "tools/benchmark/setups.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/paths.h"
#include "tools/explorer/child_process.h"

namespace {

// Wine's own programs, which carry icons: the source of every interpreter program.
const wchar_t* const kIconPrograms[] = {L"C:\\windows\\system32\\notepad.exe",
                                        L"C:\\windows\\regedit.exe",
                                        L"C:\\windows\\system32\\winecfg.exe",
                                        L"C:\\windows\\system32\\cmd.exe",
                                        L"C:\\windows\\system32\\taskmgr.exe",
                                        L"C:\\windows\\system32\\winemine.exe",
                                        L"C:\\windows\\hh.exe",
                                        L"C:\\windows\\system32\\msiexec.exe",
                                        L"C:\\windows\\system32\\winefile.exe",
                                        L"C:\\Program Files\\Internet Explorer\\iexplore.exe"};
constexpr int kIconProgramCount = sizeof(kIconPrograms) / sizeof(kIconPrograms[0]);

std::string Narrow(const std::wstring& text) { return Utf8(text); }

}  // namespace

bool Setup::Read(const std::wstring& argument) {
  if (argument.rfind(L"--interpreters=", 0) == 0)
    interpreters = _wtoi(argument.c_str() + 15);
  else if (argument == L"--no-project-env")
    project_env = false;
  else if (argument == L"--no-icons")
    with_icons = false;
  else if (argument == L"--in-project")
    place = kInProject;
  else if (argument == L"--deep")
    place = kDeep;
  else if (argument == L"--cold")
    cold = true;
  else
    return false;
  return interpreters >= 0;
}

std::string Setup::Describe() const {
  char text[160];
  std::snprintf(text, sizeof(text), "%d interpreters%s, %s, %s", interpreters,
                with_icons ? "" : " without icons",
                project_env ? "project env looked for" : "project env off",
                place == kPlain       ? "a file 1 folder down"
                : place == kInProject ? "a file in a .venv project"
                                      : "a file 20 folders down");
  return text;
}

int Setup::SubmenuItems() const { return (place == kInProject && project_env) + interpreters + 1; }

SetupFiles::SetupFiles(const Setup& setup, int first_program)
    : setup_(setup), folder_(L"benchmark-setup") {
  AddPrograms(first_program + setup.interpreters);
  std::wstring start = folder_.path();
  std::vector<std::wstring> below = setup.place == Setup::kDeep
                                        ? std::vector<std::wstring>{}
                                        : std::vector<std::wstring>{L"projects", L"demo", L"src"};
  for (int level = 1; setup.place == Setup::kDeep && level <= 20; ++level)
    below.push_back(L"d" + std::to_wstring(level));
  for (const std::wstring& name : below) {
    start += L"\\" + name;
    CreateDirectoryW(start.c_str(), nullptr);
  }
  if (setup.place == Setup::kInProject) {
    const std::wstring venv = start + L"\\.venv";
    CreateDirectoryW(venv.c_str(), nullptr);
    CreateDirectoryW((venv + L"\\Scripts").c_str(), nullptr);
    CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(),
              (venv + L"\\Scripts\\python.exe").c_str(), FALSE);
    WriteTextFile(venv + L"\\pyvenv.cfg", "home = C:\\Python312\nversion = 3.12.4\n");
    SetWrittenAgo(venv + L"\\pyvenv.cfg", 3600);  // made before today's work
  }
  file_ = start + L"\\main.py";
  WriteTextFile(file_, "print('hello')\n");
  // As the folders a user works in: last written an hour ago, not while the menu is read.
  for (std::wstring folder = start; folder.size() >= folder_.path().size();
       folder = folder.substr(0, folder.find_last_of(L'\\')))
    SetWrittenAgo(folder, 3600);
}

// The folder of the interpreter programs, kept from run to run.
std::wstring ProgramsFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"velmar-benchmark-programs";
}

void SetupFiles::AddPrograms(int count) {
  if (!setup_.with_icons) return;
  CreateDirectoryW(ProgramsFolder().c_str(), nullptr);
  for (int end = programs_ + count; programs_ < end; ++programs_) {
    const std::wstring folder = ProgramsFolder() + L"\\python" + std::to_wstring(programs_);
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!IsFile(folder + L"\\python.exe") &&
        !CopyFileW(kIconPrograms[programs_ % kIconProgramCount], (folder + L"\\python.exe").c_str(),
                   FALSE)) {
      std::fprintf(stderr, "menu_benchmark: cannot copy an interpreter program to %ls\n",
                   folder.c_str());
      std::exit(4);
    }
  }
}

std::string SetupFiles::Settings(int first_program) const {
  std::string settings = "<configure><log_level>5</log_level>";  // as shipped
  if (setup_.project_env) settings += "<project_env>1</project_env>";
  for (int i = first_program; i < first_program + setup_.interpreters; ++i) {
    const std::string path = setup_.with_icons ? Narrow(ProgramsFolder()) + "\\python" +
                                                     std::to_string(i) + "\\python.exe"
                                               : "C:\\windows\\win.ini";
    settings +=
        "<python><path>" + path + "</path><version>3.12.1</version><bits>64</bits></python>";
  }
  return settings + "</configure>";
}
