// Times one right-click as Explorer makes it: create the handler through its registration,
// Initialize with the shell's data object for a file, QueryContextMenu into a fresh popup menu,
// destroy the menu, release. The data object is made once beforehand, as Explorer has it at hand
// when it calls Initialize (making one costs Wine about 3 ms, which is not the handler's). Prints
// median and 99th percentile for 10 interpreters whose executables carry icons, and for the same 10
// without icons (a file that carries none). Then times CommandUtils::probe_python against two bare
// CreateProcessW + wait of the same interpreter stand-in. Last, a soak of SOAK right-clicks
// (default 10,000) with GDI objects and handles counted. Usage: menu_benchmark.exe [CYCLES [SOAK]]
// (registers a copy of the DLL itself).
//   --peer [CYCLES]     ours and 7-Zip's extension (registered beforehand) alternating, with the
//                       mean of each step of ours
//   --first ours|peer   the first right-click of this process, in milliseconds
//   --calls             what each call a right-click makes costs
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command/command_utils.h"
#include "config/configure.h"
#include "log/log.h"
#include "tools/explorer/child_process.h"
#include "tools/explorer/menu_reader.h"
#include "tools/explorer/module_copy.h"
#include "common/owners.h"
#include "tools/explorer/resource_counts.h"
#include "tools/explorer/shell_host.h"
#include "tools/explorer/temp_dir.h"

namespace {

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

Figures Summary(std::vector<double> samples) {
  double first = samples.front();
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[(samples.size() * 99) / 100], first};
}

// The steps of one right-click: create, Initialize, QueryContextMenu, destroy the menu, release.
constexpr int kSteps = 5;
const char* const kStepNames[kSteps] = {"create", "Initialize", "QueryContextMenu", "DestroyMenu",
                                        "release"};

// One right-click on the selection `data` of `folder`, by the handler of class `clsid`; the
// time of each step is added to `steps` when given. The total, in milliseconds.
double RightClick(const ShellHost& host, REFCLSID clsid, IDataObject* data,
                  PCIDLIST_ABSOLUTE folder, std::vector<double>* steps = nullptr) {
  LARGE_INTEGER marks[kSteps + 1];
  QueryPerformanceCounter(&marks[0]);
  {
    ComPtr<IShellExtInit> init;
    if (FAILED(host.CreateHandler(&init, clsid))) std::exit(3);
    QueryPerformanceCounter(&marks[1]);
    init->Initialize(folder, data, nullptr);
    QueryPerformanceCounter(&marks[2]);
    ComPtr<IContextMenu> menu_handler;
    init.As(IID_IContextMenu, &menu_handler);
    UniqueMenu menu(CreatePopupMenu());
    menu_handler->QueryContextMenu(menu.get(), 0, 100, 0x7FFF, CMF_NORMAL);
    QueryPerformanceCounter(&marks[3]);
    menu.reset();
    QueryPerformanceCounter(&marks[4]);
  }
  QueryPerformanceCounter(&marks[5]);
  if (steps)
    for (int i = 0; i < kSteps; ++i) (*steps)[i] += Milliseconds(marks[i], marks[i + 1]);
  return Milliseconds(marks[0], marks[kSteps]);
}

// A right-clicked file: its data object is made once beforehand, as Explorer has it at hand.
struct Selection {
  explicit Selection(const std::wstring& file)
      : folder(ShellHost::FolderIdList(file.substr(0, file.find_last_of(L'\\')))) {
    if (FAILED(ShellHost::DataObjectFor({file}, &data))) std::exit(3);
  }
  PidlPtr folder;
  ComPtr<IDataObject> data;
};

Figures Measure(const ShellHost& host, const std::wstring& file, int cycles) {
  Selection selection(file);
  std::vector<double> samples;
  for (int i = 0; i < cycles; ++i)
    samples.push_back(
        RightClick(host, CLSID_ExtensionsShellEx, selection.data.get(), selection.folder.get()));
  return Summary(samples);
}

// The 7-Zip Explorer extension, the peer the right-click is judged against.
const CLSID kPeerClsid = {
    0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00}};

// Ten interpreters whose executables carry icons (Wine's own programs), or ten that name a file
// without any, as settings; with the folder's own environment looked for, as shipped, unless
// `project_env` is false.
std::string TenInterpreters(bool with_icons, bool project_env = true) {
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
  std::string settings = "<configure><log_level>4</log_level>";
  if (project_env) settings += "<project_env>1</project_env>";
  for (const char* program : programs)
    settings += std::string("<python><path>") + (with_icons ? program : "C:\\windows\\win.ini") +
                "</path><version>3.12.1</version><bits>64</bits></python>";
  return settings + "</configure>";
}

// The menu the handler of class `clsid` builds for the selection.
std::vector<MenuItemView> MenuOf(const ShellHost& host, REFCLSID clsid,
                                 const Selection& selection) {
  ComPtr<IShellExtInit> init;
  if (FAILED(host.CreateHandler(&init, clsid))) return {};
  init->Initialize(selection.folder.get(), selection.data.get(), nullptr);
  ComPtr<IContextMenu> menu_handler;
  init.As(IID_IContextMenu, &menu_handler);
  UniqueMenu menu(CreatePopupMenu());
  menu_handler->QueryContextMenu(menu.get(), 0, 100, 0x7FFF, CMF_NORMAL);
  return ReadMenu(menu.get());
}

// Items of a menu, its submenus' included.
int CountItems(const std::vector<MenuItemView>& items) {
  int count = 0;
  for (const MenuItemView& item : items) count += 1 + CountItems(item.submenu);
  return count;
}

// How many interpreter items of our menu show a bitmap.
int ItemsWithIcons(const std::vector<MenuItemView>& items) {
  int count = 0;
  if (!items.empty())
    for (const MenuItemView& item : items[0].submenu) count += item.bitmap != nullptr;
  return count;
}

// Ours and the peer, alternating right-click by right-click in this one process (the peer is
// registered by the caller); then the mean of each step of both.
int ComparePeer(int cycles, const std::wstring& file) {
  ShellHost host;
  Selection selection(file);
  std::vector<double> ours, peer, steps(kSteps, 0.0), peer_steps(kSteps, 0.0);
  for (int i = 0; i < 20; ++i) {  // the first right-clicks are timed by --first, in new processes
    RightClick(host, CLSID_ExtensionsShellEx, selection.data.get(), selection.folder.get());
    RightClick(host, kPeerClsid, selection.data.get(), selection.folder.get());
  }
  ResourceCounts before = CountResources();
  for (int i = 0; i < cycles; ++i) {
    ours.push_back(RightClick(host, CLSID_ExtensionsShellEx, selection.data.get(),
                              selection.folder.get(), &steps));
    peer.push_back(
        RightClick(host, kPeerClsid, selection.data.get(), selection.folder.get(), &peer_steps));
  }
  ResourceCounts after = CountResources();
  Figures a = Summary(ours), b = Summary(peer);
  std::printf("alternating, %d right-clicks each (menu items: ours %d, peer %d)\n", cycles,
              CountItems(MenuOf(host, CLSID_ExtensionsShellEx, selection)),
              CountItems(MenuOf(host, kPeerClsid, selection)));
  std::printf("  ours: median %.3f ms, p99 %.3f ms\n", a.median_ms, a.p99_ms);
  std::printf("  peer: median %.3f ms, p99 %.3f ms\n", b.median_ms, b.p99_ms);
  std::printf("  ratio ours/peer: median %.2f, p99 %.2f\n", a.median_ms / b.median_ms,
              a.p99_ms / b.p99_ms);
  std::printf("  GDI objects %ld -> %ld, handles %ld -> %ld\n", before.gdi_objects,
              after.gdi_objects, before.handles, after.handles);
  for (const auto* side : {&steps, &peer_steps}) {
    std::printf("  %s, mean per step:", side == &steps ? "ours" : "peer");
    for (int i = 0; i < kSteps; ++i) std::printf(" %s %.3f ms", kStepNames[i], (*side)[i] / cycles);
    std::printf("\n");
  }
  return 0;
}

// What the calls a right-click makes cost here, each the mean of many.
template <class Call>
void PerCall(const char* name, Call call) {
  constexpr int kRuns = 2000;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kRuns; ++i) call();
  QueryPerformanceCounter(&end);
  std::printf("  %-44s %7.2f us\n", name, 1000.0 * Milliseconds(start, end) / kRuns);
}

int CallCosts(const ModuleCopy& copy, const std::wstring& file) {
  ShellHost host;
  Selection selection(file);
  std::printf("per call (mean of 2000):\n");
  PerCall("create and release a handler", [&] {
    ComPtr<IShellExtInit> init;
    host.CreateHandler(&init);
  });
  PerCall("GetFileAttributesExW (a stamp)", [&] {
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
  });
  PerCall("GetFileAttributesW", [&] { GetFileAttributesW(file.c_str()); });
  PerCall("GetFileAttributesW, a name that is not there",
          [&] { GetFileAttributesW((file + L"-not-there").c_str()); });
  PerCall("GetDriveTypeW", [&] { GetDriveTypeW(L"C:\\"); });
  log_set_level(LOG_INFO);
  PerCall("log line written (OutputDebugStringW)",
          [] { log_write(LOG_INFO, L"cfg.log_level:%d", 4); });
  PerCall("log line below the threshold", [] { log_write(LOG_DEBUG, L"m_szFile=%s", L"C:\\x"); });
  Configure configure;
  PerCall("settings load, file unchanged", [&] { configure.load(copy.config_path()); });
  PerCall("SHGetPathFromIDListW (the folder)", [&] {
    wchar_t path[MAX_PATH];
    SHGetPathFromIDListW(selection.folder.get(), path);
  });
  PerCall("IDataObject::GetData(CF_HDROP) and release", [&] {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (SUCCEEDED(selection.data->GetData(&format, &medium))) ReleaseStgMedium(&medium);
  });
  PerCall("CreatePopupMenu, 12 items, DestroyMenu", [] {
    UniqueMenu menu(CreatePopupMenu());
    for (UINT i = 0; i < 12; ++i) AppendMenuW(menu.get(), MF_STRING, 100 + i, L"Python 3.12.1 64");
  });
  const wchar_t* program = L"C:\\windows\\system32\\winecfg.exe";
  PerCall("ExtractIconExW, count of an executable's icons",
          [&] { ExtractIconExW(program, -1, nullptr, nullptr, 0); });
  PerCall("ExtractIconExW, its first large icon", [&] {
    HICON icon = nullptr;
    if (ExtractIconExW(program, 0, &icon, nullptr, 1) == 1) DestroyIcon(icon);
  });
  PerCall("CreateDIBSection 16x16x32 and DeleteObject", [] {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    DeleteObject(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  });
  return 0;
}

// The first right-click of a fresh process, by ours or the peer: prints its milliseconds.
int FirstRightClick(bool peer, const std::wstring& file) {
  ShellHost host;
  Selection selection(file);
  std::vector<double> steps(kSteps, 0.0);
  double total = RightClick(host, peer ? kPeerClsid : CLSID_ExtensionsShellEx, selection.data.get(),
                            selection.folder.get(), &steps);
  std::printf("%.3f", total);
  if (GetEnvironmentVariableW(L"VELMAR_BENCHMARK_STEPS", nullptr, 0) > 0)
    for (int i = 0; i < kSteps; ++i) std::printf(" %s %.3f", kStepNames[i], steps[i]);
  std::printf("\n");
  return 0;
}

// What looking for the folder's own environment adds to a right-click: on a file three folders
// deep with no environment anywhere above (20 attribute queries), and on a file in a project with
// a .venv (the item read from its files), against the same settings without it.
void MeasureProjectEnvironment(const ModuleCopy& copy, const std::wstring& base, int cycles) {
  CreateDirectoryW((base + L"\\a").c_str(), nullptr);
  CreateDirectoryW((base + L"\\a\\b").c_str(), nullptr);
  CreateDirectoryW((base + L"\\a\\b\\c").c_str(), nullptr);
  const std::wstring deep = base + L"\\a\\b\\c\\main.py";
  WriteTextFile(deep, "print('hello')\n");
  const std::wstring venv = base + L"\\proj\\.venv";
  CreateDirectoryW((base + L"\\proj").c_str(), nullptr);
  CreateDirectoryW(venv.c_str(), nullptr);
  CreateDirectoryW((venv + L"\\Scripts").c_str(), nullptr);
  CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(),
            (venv + L"\\Scripts\\python.exe").c_str(), FALSE);
  WriteTextFile(venv + L"\\pyvenv.cfg", "home = C:\\Python312\nversion = 3.12.4\n");
  const std::wstring in_project = base + L"\\proj\\main.py";
  WriteTextFile(in_project, "print('hello')\n");
  ShellHost host;
  std::printf("the folder's own environment, %d right-clicks each, 10 interpreters with icons:\n",
              cycles);
  for (const std::wstring& file : {deep, in_project}) {
    copy.WriteConfig(TenInterpreters(true, true));
    Figures on = Measure(host, file, cycles);
    const std::vector<MenuItemView> menu = MenuOf(host, CLSID_ExtensionsShellEx, Selection(file));
    const size_t items = menu.empty() ? 0 : menu[0].submenu.size();
    copy.WriteConfig(TenInterpreters(true, false));
    Figures off = Measure(host, file, cycles);
    std::printf(
        "  %s: median on %.3f ms (%zu items), off %.3f ms, difference %.3f ms\n",
        file == deep ? "a file 3 folders deep, no environment" : "a file in a .venv project",
        on.median_ms, items, off.median_ms, on.median_ms - off.median_ms);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  bool compare = mode == L"--peer", first = mode == L"--first", calls = mode == L"--calls";
  int cycles = argc > 1 && !first && !calls ? _wtoi(argv[compare ? 2 : 1]) : 300;
  if (cycles < 10) cycles = 10;
  int soak_cycles = argc > 2 && !compare && !first && !calls ? _wtoi(argv[2]) : 10000;
  ModuleCopy copy(L"benchmark");
  if (!copy.copied() || copy.Register() != 0) {
    std::fprintf(stderr, "menu_benchmark: cannot register the DLL copy\n");
    return 2;
  }
  TempDir sample(L"benchmark-sample");
  std::wstring file = sample.path() + L"\\main.py";
  WriteTextFile(file, "print('hello')\n");
  const std::string with_icons = TenInterpreters(true);
  copy.WriteConfig(with_icons);
  if (compare) return ComparePeer(cycles, file);
  if (calls) return CallCosts(copy, file);
  if (first) return FirstRightClick(argc > 2 && std::wstring(argv[2]) == L"peer", file);

  const std::string without_icons = TenInterpreters(false);
  const std::string no_interpreters = "<configure><log_level>4</log_level></configure>";
  ShellHost host;
  Figures icons = Measure(host, file, cycles);
  int shown = ItemsWithIcons(MenuOf(host, CLSID_ExtensionsShellEx, Selection(file)));
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
  std::printf("  ratio of medians: icons / no icons %.2f, icons / 0 interpreters %.2f\n",
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
  MeasureProjectEnvironment(copy, sample.path(), cycles);
  MeasureProbe(cycles / 3 < 20 ? 20 : cycles / 3);
  return 0;
}
