// Times right-clicks as Explorer makes them (tools/benchmark/right_click.h), under Wine. Registers
// a copy of the DLL itself; the floor is registered for the process's life.
//   menu_benchmark.exe [CYCLES [SOAK]]
//       ours: 10 interpreters with icons, without, none; a soak of SOAK right-clicks (default
//       10,000) with GDI objects and handles counted; what the folder's own environment adds;
//       the interpreter probe against two bare starts of the same program
//   --compare CYCLES [peer]
//       steady right-clicks in one process, both menus, both orders: ours, the floor and 7-Zip's
//       extension (registered beforehand) when "peer" is given; medians, p99, ratios, and the
//       mean of each step
//   --first ours|peer|floor classic|command [SETUP...]
//       the first right-click of this process in milliseconds, then each step's
//   --growth CYCLES   steady cost for each setup of the growth table
//   --memory          private bytes, GDI objects and handles over 1,000 right-clicks
//   --calls           what each call a right-click makes costs
// SETUP: --interpreters=N, --no-project-env, --no-icons, --in-project, --deep, --cold
// (tools/benchmark).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command/command_utils.h"
#include "common/paths.h"
#include "config/configure.h"
#include "log/log.h"
#include "shellext/saved_icons.h"
#include "tools/benchmark/right_click.h"
#include "tools/benchmark/setups.h"
#include "tools/explorer/child_process.h"
#include "tools/explorer/menu_reader.h"
#include "tools/explorer/module_copy.h"
#include "tools/explorer/resource_counts.h"

namespace {

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

// `steps`, when given, gets each step's time added up.
Figures Measure(const ShellHost& host, const Selection& selection, int cycles,
                std::vector<double>* steps = nullptr) {
  std::vector<double> samples;
  for (int i = 0; i < cycles; ++i)
    samples.push_back(MenuRightClick(host, Handler::kOurs, selection, steps));
  return Summary(samples);
}

// The menu the handler builds for the selection.
std::vector<MenuItemView> MenuOf(const ShellHost& host, Handler handler,
                                 const Selection& selection) {
  ComPtr<IShellExtInit> init;
  if (FAILED(host.CreateHandler(&init, MenuClass(handler)))) return {};
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

// The handlers of one round of right-clicks, in the order they take their turn.
using Round = std::vector<Handler>;

struct Side {
  std::vector<double> samples;
  std::vector<double> steps = std::vector<double>(kSteps, 0.0);
};

// Rounds of right-clicks, each handler of `round` in turn, after 20 rounds of warming up (the
// first right-clicks are timed by --first, in new processes).
std::vector<Side> Alternate(const ShellHost& host, bool command, const Round& round,
                            const Selection& selection, int cycles) {
  auto click = [&](Handler handler, std::vector<double>* steps) {
    return command ? CommandRightClick(handler, selection, steps)
                   : MenuRightClick(host, handler, selection, steps);
  };
  for (int i = 0; i < 20; ++i)
    for (Handler handler : round) click(handler, nullptr);
  std::vector<Side> sides(round.size());
  for (int i = 0; i < cycles; ++i)
    for (size_t k = 0; k < round.size(); ++k)
      sides[k].samples.push_back(click(round[k], &sides[k].steps));
  return sides;
}

// Ratio and whether it meets its goal, as printed.
std::string Against(double ours, double theirs, double goal) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.2f (goal <= %.1f: %s)", ours / theirs, goal,
                ours / theirs <= goal ? "met" : "NOT MET");
  return text;
}

void PrintOrder(const char* menu_name, const Round& round, const std::vector<Side>& sides,
                int cycles, bool command) {
  std::printf("%s, %d rounds, order", menu_name, cycles);
  for (Handler handler : round) std::printf(" %s", HandlerName(handler));
  std::printf(":\n");
  Figures ours, peer, floor;
  for (size_t k = 0; k < round.size(); ++k) {
    Figures figures = Summary(sides[k].samples);
    std::printf("  %-6s median %7.3f ms  p99 %7.3f ms   mean per step:", HandlerName(round[k]),
                figures.median_ms, figures.p99_ms);
    for (int i = 0; i < kSteps; ++i)
      std::printf(" %s %.3f", (command ? kCommandStepNames : kMenuStepNames)[i],
                  sides[k].steps[i] / cycles);
    std::printf("\n");
    (round[k] == Handler::kOurs ? ours : round[k] == Handler::kPeer ? peer : floor) = figures;
  }
  if (peer.median_ms > 0)
    std::printf("  ours / 7-Zip: median %s, p99 %s\n",
                Against(ours.median_ms, peer.median_ms, 0.8).c_str(),
                Against(ours.p99_ms, peer.p99_ms, 1.0).c_str());
  std::printf("  ours / floor: median %s, p99 %.2f\n",
              Against(ours.median_ms, floor.median_ms, command ? 2.0 : 1.8).c_str(),
              ours.p99_ms / floor.p99_ms);
}

// Ours, the floor and (with `peer`) 7-Zip, alternating in one process, in both orders; then
// Windows 11's command, ours and the floor, in both orders.
int Compare(const SetupFiles& files, int cycles, bool peer) {
  ShellHost host;
  Selection selection(files.file());
  Round forward = {Handler::kOurs, Handler::kFloor}, backward = {Handler::kFloor, Handler::kOurs};
  if (peer) {
    forward = {Handler::kOurs, Handler::kPeer, Handler::kFloor};
    backward = {Handler::kFloor, Handler::kPeer, Handler::kOurs};
  }
  std::printf("menu items: ours %d, floor %d", CountItems(MenuOf(host, Handler::kOurs, selection)),
              CountItems(MenuOf(host, Handler::kFloor, selection)));
  if (peer) std::printf(", 7-Zip %d", CountItems(MenuOf(host, Handler::kPeer, selection)));
  std::printf("\n");
  ResourceCounts before = CountResources();
  for (const Round& round : {forward, backward})
    PrintOrder("classic menu (Initialize + QueryContextMenu)", round,
               Alternate(host, false, round, selection, cycles), cycles, false);
  for (const Round& round :
       {Round{Handler::kOurs, Handler::kFloor}, Round{Handler::kFloor, Handler::kOurs}})
    PrintOrder("Windows 11 command, full enumeration", round,
               Alternate(host, true, round, selection, cycles), cycles, true);
  ResourceCounts after = CountResources();
  std::printf("GDI objects %ld -> %ld, handles %ld -> %ld over all of them\n", before.gdi_objects,
              after.gdi_objects, before.handles, after.handles);
  return 0;
}

// The first right-click of a fresh process: its milliseconds, then each step's.
int FirstRightClick(const SetupFiles& files, Handler handler, bool command) {
  ShellHost host;
  Selection selection(files.file());
  std::vector<double> steps(kSteps, 0.0);
  double total = command ? CommandRightClick(handler, selection, &steps)
                         : MenuRightClick(host, handler, selection, &steps);
  std::printf("%.3f", total);
  for (int i = 0; i < kSteps; ++i)
    std::printf(" %s %.3f", (command ? kCommandStepNames : kMenuStepNames)[i], steps[i]);
  std::printf("\n");
  return 0;
}

// The setups of the growth table, as the script passes them to --first too.
const std::vector<std::vector<std::wstring>> kGrowthSetups = {
    {L"--interpreters=1"},
    {L"--interpreters=10"},
    {L"--interpreters=50"},
    {L"--interpreters=98"},
    {L"--interpreters=1", L"--no-project-env"},
    {L"--interpreters=10", L"--no-project-env"},
    {L"--interpreters=50", L"--no-project-env"},
    {L"--interpreters=98", L"--no-project-env"},
    {L"--interpreters=10", L"--in-project"},
    {L"--interpreters=10", L"--deep"},
};

// Steady cost of each setup, all in this process: the icons are in the store after the warm-up.
int Growth(const ModuleCopy& copy, int cycles) {
  ShellHost host;
  for (const auto& arguments : kGrowthSetups) {
    Setup setup;
    for (const std::wstring& argument : arguments) setup.Read(argument);
    SetupFiles files(setup);
    copy.WriteConfig(files.Settings());
    Selection selection(files.file());
    Measure(host, selection, 20);
    std::vector<double> steps(kSteps, 0.0);
    const Figures figures = Measure(host, selection, cycles, &steps);
    const std::vector<MenuItemView> menu = MenuOf(host, Handler::kOurs, selection);
    std::printf(
        "steady | %s | %zu items | median %.3f ms | p99 %.3f ms | mean Initialize %.3f ms, "
        "QueryContextMenu %.3f ms\n",
        setup.Describe().c_str(), menu.empty() ? 0 : menu[0].submenu.size(), figures.median_ms,
        figures.p99_ms, steps[1] / cycles, steps[2] / cycles);
  }
  return 0;
}

struct Memory {
  double private_mb;
  ResourceCounts counts;
};

// Committed private memory, summed over the address space: Wine answers 0 for the process
// counters' PrivateUsage.
Memory MemoryNow() {
  SIZE_T committed = 0;
  MEMORY_BASIC_INFORMATION region = {};
  for (const char* at = nullptr;
       VirtualQuery(at, &region, sizeof(region)) == sizeof(region) && region.RegionSize > 0;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize)
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) committed += region.RegionSize;
  return {committed / (1024.0 * 1024.0), CountResources()};
}

void PrintMemory(const char* when, const Memory& memory) {
  std::printf("  %-34s private %7.2f MB, GDI objects %3ld, handles %3ld\n", when, memory.private_mb,
              memory.counts.gdi_objects, memory.counts.handles);
}

// 1,000 right-clicks of ours over 300 distinct interpreter paths (ten to a menu, the settings
// rewritten before each), after 1,000 of the floor in the same process: what ours adds is the
// module's share.
int MemoryRun(const ModuleCopy& copy) {
  constexpr int kClicks = 1000, kPaths = 300;
  Setup setup;
  SetupFiles files(setup);
  files.AddPrograms(kPaths - setup.interpreters);
  ShellHost host;
  Selection selection(files.file());
  std::printf("memory, %d right-clicks each, ours over %d distinct interpreter paths:\n", kClicks,
              kPaths);
  const Memory start = MemoryNow();
  PrintMemory("before any handler", start);
  FloorRegistration floor(setup.SubmenuItems());
  for (int i = 0; i < kClicks; ++i) MenuRightClick(host, Handler::kFloor, selection);
  const Memory after_floor = MemoryNow();
  PrintMemory("after 1,000 of the floor", after_floor);
  Memory warm = after_floor;
  for (int i = 1; i <= kClicks; ++i) {
    copy.WriteConfig(files.Settings((i * setup.interpreters) % kPaths));
    MenuRightClick(host, Handler::kOurs, selection);
    if (i == 300) warm = MemoryNow();
    if (i == 300 || i == 500 || i == 750 || i == kClicks) {
      char when[48];
      std::snprintf(when, sizeof(when), "after %d of ours", i);
      PrintMemory(when, MemoryNow());
    }
  }
  const Memory end = MemoryNow();
  std::printf("  growth after warm-up (300 -> 1,000): %+.2f MB, %+ld GDI objects, %+ld handles\n",
              end.private_mb - warm.private_mb, end.counts.gdi_objects - warm.counts.gdi_objects,
              end.counts.handles - warm.counts.handles);
  std::printf("  the module's share (ours' end - the floor's end): %.2f MB (goal <= 1.0: %s)\n",
              end.private_mb - after_floor.private_mb,
              end.private_mb - after_floor.private_mb <= 1.0 ? "met" : "NOT MET");
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

// Ours' own calls, and the settings and the log they use.
void OursCosts(const ModuleCopy& copy, const Selection& selection) {
  ShellHost host;
  PerCall("create and release a handler", [&] {
    ComPtr<IShellExtInit> init;
    host.CreateHandler(&init);
  });
  ComPtr<IShellExtInit> handler;
  host.CreateHandler(&handler);
  PerCall("Initialize of ours, again on one handler",
          [&] { handler->Initialize(selection.folder.get(), selection.data.get(), nullptr); });
  log_set_level(LOG_INFO);
  PerCall("log line written (OutputDebugStringW)",
          [] { log_write(LOG_INFO, L"cfg.log_level:%d", 4); });
  PerCall("log line below the threshold", [] { log_write(LOG_DEBUG, L"m_szFile=%s", L"C:\\x"); });
  Configure configure;
  PerCall("settings load, file unchanged", [&] { configure.load(copy.config_path()); });
  ComPtr<IExplorerCommand> command;
  CoCreateInstance(CLSID_ExplorerCommand, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerCommand,
                   command.put_void());
  PerCall("ours' GetIcon", [&] {
    LPWSTR icon = nullptr;
    if (SUCCEEDED(command->GetIcon(selection.items.get(), &icon))) CoTaskMemFree(icon);
  });
  PerCall("ours' EnumSubCommands and release", [&] {
    ComPtr<IEnumExplorerCommand> list;
    command->EnumSubCommands(list.put());
  });
}

// What the file system answers: stamps, names looked for, the drive and the volume.
void FileSystemCosts(const std::wstring& file) {
  PerCall("GetFileAttributesExW (a stamp)", [&] {
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
  });
  PerCall("GetFileAttributesW", [&] { GetFileAttributesW(file.c_str()); });
  PerCall("GetFileAttributesW, a name that is not there",
          [&] { GetFileAttributesW((file + L"-not-there").c_str()); });
  PerCall("GetDriveTypeW", [&] { GetDriveTypeW(L"C:\\"); });
  PerCall("DriveTypeOfRoot (the device information)", [&] { DriveTypeOfRoot(L"C:\\"); });
  PerCall("GetVolumeInformationW", [] {
    wchar_t name[MAX_PATH + 1];
    GetVolumeInformationW(L"C:\\", nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1);
  });
  const std::wstring folder = file.substr(0, file.find_last_of(L'\\'));
  auto open_folder = [&] {
    return ScopedHandle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  };
  PerCall("open and close a folder", [&] { open_folder(); });
  PerCall("a folder's volume, by handle (open, 2 queries)", [&] {
    ScopedHandle handle = open_folder();
    wchar_t name[MAX_PATH + 1];
    DWORD flags = 0;
    GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, &flags, name,
                                  MAX_PATH + 1);
    FILE_REMOTE_PROTOCOL_INFO remote;
    GetFileInformationByHandleEx(handle.get(), FileRemoteProtocolInfo, &remote, sizeof(remote));
  });
}

// The ways to the selection's path that the shell offers.
void ShellCosts(const Selection& selection) {
  PerCall("SHGetPathFromIDListW (the folder)", [&] {
    wchar_t path[MAX_PATH];
    SHGetPathFromIDListW(selection.folder.get(), path);
  });
  PerCall("IDataObject::GetData(CF_HDROP) and release", [&] {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (SUCCEEDED(selection.data->GetData(&format, &medium))) ReleaseStgMedium(&medium);
  });
  for (SIGDN form : {SIGDN_FILESYSPATH, SIGDN_DESKTOPABSOLUTEPARSING}) {
    PerCall(form == SIGDN_FILESYSPATH ? "IShellItem::GetDisplayName(SIGDN_FILESYSPATH)"
                                      : "IShellItem::GetDisplayName(DESKTOPABSOLUTEPARSING)",
            [&] {
              ComPtr<IShellItem> item;
              LPWSTR name = nullptr;
              if (SUCCEEDED(selection.items->GetItemAt(0, item.put())) &&
                  SUCCEEDED(item->GetDisplayName(form, &name)))
                CoTaskMemFree(name);
            });
  }
  PerCall("an item's path from its ID list (SHGetPathFromIDListW)", [&] {
    ComPtr<IShellItem> item;
    PIDLIST_ABSOLUTE list = nullptr;
    if (SUCCEEDED(selection.items->GetItemAt(0, item.put())) &&
        SUCCEEDED(SHGetIDListFromObject(item.get(), &list))) {
      wchar_t path[MAX_PATH];
      SHGetPathFromIDListW(list, path);
      ILFree(list);
    }
  });
  PerCall("IShellItem::GetAttributes(SFGAO_FILESYSTEM)", [&] {
    ComPtr<IShellItem> item;
    SFGAOF attributes = 0;
    if (SUCCEEDED(selection.items->GetItemAt(0, item.put())))
      item->GetAttributes(SFGAO_FILESYSTEM | SFGAO_FOLDER, &attributes);
  });
}

// The menu and its bitmaps.
void DrawingCosts() {
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
}

int CallCosts(const ModuleCopy& copy, const std::wstring& file) {
  Selection selection(file);
  std::printf("per call (mean of 2000):\n");
  OursCosts(copy, selection);
  FileSystemCosts(file);
  ShellCosts(selection);
  DrawingCosts();
  return 0;
}

// What looking for the folder's own environment adds to a right-click: on a file with no
// environment anywhere above (20 attribute queries), and on a file in a project with a .venv (the
// item read from its files), against the same settings without it.
void MeasureProjectEnvironment(const ModuleCopy& copy, int cycles) {
  ShellHost host;
  std::printf("the folder's own environment, %d right-clicks each, 10 interpreters with icons:\n",
              cycles);
  for (Setup::Place place : {Setup::kPlain, Setup::kInProject}) {
    Setup setup;
    setup.place = place;
    SetupFiles files(setup);
    Selection selection(files.file());
    copy.WriteConfig(files.Settings());
    Figures on = Measure(host, selection, cycles);
    const std::vector<MenuItemView> menu = MenuOf(host, Handler::kOurs, selection);
    setup.project_env = false;
    SetupFiles without(setup);
    copy.WriteConfig(without.Settings());
    Figures off = Measure(host, Selection(without.file()), cycles);
    std::printf("  %s: median on %.3f ms (%zu items), off %.3f ms, difference %.3f ms\n",
                place == Setup::kPlain ? "a file, no environment" : "a file in a .venv project",
                on.median_ms, menu.empty() ? 0 : menu[0].submenu.size(), off.median_ms,
                on.median_ms - off.median_ms);
  }
}

// Ours alone: with icons, without, with no interpreters; the soak; the folder's own environment;
// the probe.
int OursAlone(const ModuleCopy& copy, int cycles, int soak_cycles) {
  Setup setup;
  SetupFiles files(setup);
  copy.WriteConfig(files.Settings());
  ShellHost host;
  Selection selection(files.file());
  Figures icons = Measure(host, selection, cycles);
  int shown = ItemsWithIcons(MenuOf(host, Handler::kOurs, selection));
  setup.with_icons = false;
  copy.WriteConfig(SetupFiles(setup).Settings());
  Figures plain = Measure(host, selection, cycles);
  copy.WriteConfig("<configure><log_level>5</log_level></configure>");
  Figures none = Measure(host, selection, cycles);
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
  copy.WriteConfig(files.Settings());
  Measure(host, selection, 20);
  ResourceCounts before = CountResources();
  Figures soak = Measure(host, selection, soak_cycles);
  ResourceCounts after = CountResources();
  std::printf(
      "soak, %d right-clicks with icons: median %.3f ms; GDI objects %ld -> %ld, "
      "handles %ld -> %ld\n",
      soak_cycles, soak.median_ms, before.gdi_objects, after.gdi_objects, before.handles,
      after.handles);
  MeasureProjectEnvironment(copy, cycles);
  MeasureProbe(cycles / 3 < 20 ? 20 : cycles / 3);
  return 0;
}

Handler HandlerNamed(const std::wstring& name) {
  return name == L"peer" ? Handler::kPeer : name == L"floor" ? Handler::kFloor : Handler::kOurs;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  auto arg = [&](size_t at) { return at < args.size() ? args[at] : std::wstring(); };
  auto number = [&](size_t at, int fallback) {
    int value = at < args.size() ? _wtoi(args[at].c_str()) : fallback;
    return value < 10 ? fallback : value;
  };
  const std::wstring mode = arg(0);
  // Kept at one path, as installed: the saved menu bitmaps of its own icon stay valid.
  ModuleCopy copy(ModuleCopy::Kept{}, L"benchmark-module");
  // Installed as a user has it: the companion beside the module.
  if (!copy.copied() || copy.Register() != 0 ||
      !CopyFileW((ProgramFolder() + L"\\Velmar.exe").c_str(),
                 (copy.folder() + L"\\Velmar.exe").c_str(), FALSE)) {
    std::fprintf(stderr, "menu_benchmark: cannot register the DLL copy\n");
    return 2;
  }
  if (mode == L"--growth") return Growth(copy, number(1, 300));
  if (mode == L"--memory") return MemoryRun(copy);

  Setup setup;
  for (size_t at = mode == L"--first" ? 3 : 1; at < args.size(); ++at)
    if (mode == L"--first" && !setup.Read(args[at])) {
      std::fprintf(stderr, "menu_benchmark: unknown setting %ls\n", args[at].c_str());
      return 2;
    }
  SetupFiles files(setup);
  copy.WriteConfig(files.Settings());
  if (setup.cold) DeleteFileW(SavedIcons::UserFile().c_str());
  FloorRegistration floor(setup.SubmenuItems());
  if (mode == L"--compare") return Compare(files, number(1, 300), arg(2) == L"peer");
  if (mode == L"--calls") return CallCosts(copy, files.file());
  if (mode == L"--first") return FirstRightClick(files, HandlerNamed(arg(1)), arg(2) == L"command");
  return OursAlone(copy, number(0, 300), number(1, 10000));
}
