// Plays Explorer for one or more right-clicks, in the order given on the command line:
//   background DIR        Initialize for the background of folder DIR
//   select N P1 .. PN     Initialize with the shell's data object for N items of one folder
//   droplist N P1 .. PN   Initialize with a plain drop list (paths the shell cannot name)
//   new                   release the handler and create a fresh one
//   delete FILE           delete a file between two steps
// Prints one line per step: "create=0x........" or "<step>=0x........" with the HRESULT.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/shell_host.h"

namespace {

void Report(const char* step, HRESULT hr) {
  std::printf("%s=0x%08lX\n", step, static_cast<unsigned long>(hr));
  std::fflush(stdout);
}

bool TakePaths(int argc, wchar_t** argv, int* i, std::vector<std::wstring>* paths) {
  if (*i + 1 >= argc) return false;
  int count = _wtoi(argv[++*i]);
  if (count < 1 || *i + count >= argc) return false;
  for (int k = 0; k < count; ++k) paths->push_back(argv[++*i]);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // plain line feeds, whatever reads them
  ShellHost host;
  if (!host.ready()) return 3;
  ComPtr<IShellExtInit> handler;
  auto create = [&]() {
    HRESULT hr = host.CreateHandler(&handler);
    Report("create", hr);
    return SUCCEEDED(hr);
  };
  if (!create()) return 3;

  for (int i = 1; i < argc; ++i) {
    std::wstring step = argv[i];
    std::vector<std::wstring> paths;
    if (step == L"background" && i + 1 < argc) {
      Report("background", ShellHost::InitializeBackground(handler.get(), argv[++i]));
    } else if (step == L"select" && TakePaths(argc, argv, &i, &paths)) {
      Report("select", ShellHost::InitializeSelection(handler.get(), paths));
    } else if (step == L"droplist" && TakePaths(argc, argv, &i, &paths)) {
      ComPtr<IDataObject> data = ShellHost::DropListDataObject(paths);
      Report("droplist", handler->Initialize(nullptr, data.get(), nullptr));
    } else if (step == L"new") {
      handler.reset();
      if (!create()) return 3;
    } else if (step == L"delete" && i + 1 < argc) {
      Report("delete", DeleteFileW(argv[++i]) ? S_OK : HRESULT_FROM_WIN32(GetLastError()));
    } else {
      std::fprintf(stderr, "shell_host: cannot read step %d\n", i);
      return 2;
    }
  }
  return 0;
}
