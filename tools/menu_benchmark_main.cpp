// Times one right-click as Explorer makes it: create the handler through its registration,
// Initialize with the shell's data object for a file, QueryContextMenu into a fresh popup menu,
// destroy the menu, release. The data object is made once beforehand, as Explorer has it at hand
// when it calls Initialize (making one costs Wine about 3 ms, which is not the handler's). Prints
// median and 99th percentile for 10 interpreters whose executables carry icons, and for the same 10
// without icons (empty paths). Then times CommandUtils::probe_python against two bare
// CreateProcessW + wait of the same interpreter stand-in. Last, a soak of SOAK right-clicks
// (default 10,000) with GDI objects and handles counted. Usage: menu_benchmark.exe [CYCLES [SOAK]]
// (registers a copy of the DLL itself)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command/command_utils.h"
#include "tools/explorer/child_process.h"
#include "tools/explorer/menu_reader.h"
#include "tools/explorer/module_copy.h"
#include "tools/explorer/owners.h"
#include "tools/explorer/resource_counts.h"
#include "tools/explorer/shell_host.h"
#include "tools/explorer/temp_dir.h"

namespace {

// How many interpreter items of one menu show a bitmap.
int ItemsWithIcons(const ShellHost& host, const std::wstring& file) {
  ComPtr<IShellExtInit> init;
  if (FAILED(host.CreateHandler(&init))) return -1;
  ShellHost::InitializeSelection(init.get(), {file});
  ComPtr<IContextMenu> menu_handler;
  init.As(IID_IContextMenu, &menu_handler);
  UniqueMenu menu(CreatePopupMenu());
  menu_handler->QueryContextMenu(menu.get(), 0, 100, 0x7FFF, CMF_NORMAL);
  int count = 0;
  for (const MenuItemView& item : ReadMenu(menu.get())[0].submenu) count += item.bitmap != nullptr;
  return count;
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// One bare start of the program, waited for, as the cheapest possible way to run it.
void BareRun(std::wstring line) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process))
    std::exit(4);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void MeasureProbe(int cycles) {
  TempDir folder(L"probe-benchmark");
  std::wstring python = folder.path() + L"\\python.exe";
  CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(), python.c_str(), FALSE);
  std::wstring quoted = L"\"" + python + L"\"";
  std::vector<double> probe, bare;
  for (int i = 0; i < cycles; ++i) {
    LARGE_INTEGER start, middle, end;
    QueryPerformanceCounter(&start);
    std::wstring version, bits;
    CommandUtils::probe_python(python, version, bits);
    QueryPerformanceCounter(&middle);
    BareRun(quoted + L" --version");
    BareRun(quoted + L" -c \"import struct;import sys;sys.exit(8*struct.calcsize('P'))\"");
    QueryPerformanceCounter(&end);
    probe.push_back(Milliseconds(start, middle));
    bare.push_back(Milliseconds(middle, end));
  }
  std::printf(
      "interpreter probe, %d runs: probe_python median %.2f ms, two bare starts %.2f ms, "
      "ratio %.3f\n",
      cycles, Median(probe), Median(bare), Median(probe) / Median(bare));
}

struct Figures {
  double median_ms;
  double p99_ms;
  double first_ms;
};

Figures Measure(const ShellHost& host, const std::wstring& file, int cycles) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> samples;
  ComPtr<IDataObject> data;
  if (FAILED(ShellHost::DataObjectFor({file}, &data))) std::exit(3);
  std::wstring folder = file.substr(0, file.find_last_of(L'\\'));
  PidlPtr folder_pidl = ShellHost::FolderIdList(folder);
  for (int i = 0; i < cycles; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    {
      ComPtr<IShellExtInit> init;
      if (FAILED(host.CreateHandler(&init))) std::exit(3);
      init->Initialize(folder_pidl.get(), data.get(), nullptr);
      ComPtr<IContextMenu> menu_handler;
      init.As(IID_IContextMenu, &menu_handler);
      UniqueMenu menu(CreatePopupMenu());
      menu_handler->QueryContextMenu(menu.get(), 0, 100, 0x7FFF, CMF_NORMAL);
    }
    QueryPerformanceCounter(&end);
    samples.push_back(1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
  }
  double first = samples.front();
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[(samples.size() * 99) / 100], first};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int cycles = argc > 1 ? _wtoi(argv[1]) : 300;
  if (cycles < 10) cycles = 10;
  int soak_cycles = argc > 2 ? _wtoi(argv[2]) : 10000;
  ModuleCopy copy(L"benchmark");
  if (!copy.copied() || copy.Register() != 0) {
    std::fprintf(stderr, "menu_benchmark: cannot register the DLL copy\n");
    return 2;
  }
  TempDir sample(L"benchmark-sample");
  std::wstring file = sample.path() + L"\\main.py";
  WriteTextFile(file, "print('hello')\n");

  // Ten different executables with icons: Wine's own programs.
  const char* programs[] = {"C:\\windows\\system32\\notepad.exe",
                            "C:\\windows\\regedit.exe",
                            "C:\\windows\\system32\\winecfg.exe",
                            "C:\\windows\\system32\\cmd.exe",
                            "C:\\windows\\system32\\taskmgr.exe",
                            "C:\\windows\\system32\\winemine.exe",
                            "C:\\windows\\hh.exe",
                            "C:\\windows\\system32\\msiexec.exe",
                            "C:\\windows\\system32\\winefile.exe",
                            "C:\\Program Files\\Internet Explorer\\iexplore.exe"};
  std::string with_icons = "<configure><log_level>4</log_level>";
  std::string without_icons = with_icons;
  for (const char* program : programs) {
    with_icons += std::string("<python><path>") + program +
                  "</path><version>3.12.1</version><bits>64</bits></python>";
    without_icons += "<python><path></path><version>3.12.1</version><bits>64</bits></python>";
  }
  with_icons += "</configure>";
  without_icons += "</configure>";
  const std::string no_interpreters = "<configure><log_level>4</log_level></configure>";

  ShellHost host;
  copy.WriteConfig(with_icons);
  Figures icons = Measure(host, file, cycles);
  int shown = ItemsWithIcons(host, file);
  copy.WriteConfig(without_icons);
  Figures plain = Measure(host, file, cycles);
  copy.WriteConfig(no_interpreters);
  Figures none = Measure(host, file, cycles);
  std::printf("right-click cycle, %d cycles each, 10 interpreters (%d with an icon)\n", cycles,
              shown);
  std::printf(
      "  with icons (first = first right-click of the process):\n                 first %.2f ms, "
      "median %.3f ms, p99 %.3f ms\n",
      icons.first_ms, icons.median_ms, icons.p99_ms);
  std::printf("  without icons: first %.2f ms, median %.3f ms, p99 %.3f ms\n", plain.first_ms,
              plain.median_ms, plain.p99_ms);
  std::printf("  0 interpreters: first %.2f ms, median %.3f ms, p99 %.3f ms\n", none.first_ms,
              none.median_ms, none.p99_ms);
  std::printf("  ratio of medians: icons / empty paths %.2f, icons / 0 interpreters %.2f\n",
              icons.median_ms / plain.median_ms, icons.median_ms / none.median_ms);

  // The soak: many right-clicks with ten interpreters keep GDI objects and handles flat.
  copy.WriteConfig(with_icons);
  Measure(host, file, 20);
  ResourceCounts before = CountResources();
  Figures soak = Measure(host, file, soak_cycles);
  ResourceCounts after = CountResources();
  std::printf(
      "soak, %d right-clicks with icons: median %.3f ms; GDI objects %ld -> %ld, "
      "handles %ld -> %ld\n",
      soak_cycles, soak.median_ms, before.gdi_objects, after.gdi_objects, before.handles,
      after.handles);
  MeasureProbe(cycles / 3 < 20 ? 20 : cycles / 3);
  return 0;
}
