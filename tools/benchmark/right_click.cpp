#include "tools/benchmark/right_click.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/class_id.h"

namespace {

// tools/floor/floor_handler.cpp
const CLSID kFloorClsid = {
    0x5B3C8E51, 0x7A0D, 0x4C52, {0x9E, 0x61, 0x0F, 0x1D, 0x2A, 0x7B, 0x9C, 0x01}};
const wchar_t kFloorKey[] = L"CLSID\\{5B3C8E51-7A0D-4C52-9E61-0F1D2A7B9C01}";

// 7-Zip's Explorer extension.
const CLSID kPeerClsid = {
    0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00}};

[[noreturn]] void Fail(const char* what, Handler handler) {
  std::fprintf(stderr, "menu_benchmark: %s of %s failed\n", what, HandlerName(handler));
  std::exit(3);
}

[[noreturn]] void Stop(const char* what) {
  std::fprintf(stderr, "menu_benchmark: cannot make %s\n", what);
  std::exit(3);
}

std::wstring ProgramFolderOfThis() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text = path;
  return text.substr(0, text.find_last_of(L'\\'));
}

// Frees a string the callee allocated with CoTaskMemAlloc.
void Free(LPWSTR text) { CoTaskMemFree(text); }

}  // namespace

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency);
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

Figures Summary(std::vector<double> samples) {
  if (samples.empty()) return {};
  double first = samples.front();
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[(samples.size() * 99) / 100], first};
}

const char* HandlerName(Handler handler) {
  return handler == Handler::kOurs ? "ours" : handler == Handler::kPeer ? "7-Zip" : "floor";
}

const CLSID& MenuClass(Handler handler) {
  return handler == Handler::kOurs   ? CLSID_ExtensionsShellEx
         : handler == Handler::kPeer ? kPeerClsid
                                     : kFloorClsid;
}

const CLSID& CommandClass(Handler handler) {
  return handler == Handler::kOurs ? CLSID_ExplorerCommand : kFloorClsid;
}

FloorRegistration::FloorRegistration(int submenu_items) {
  const std::wstring dll = ProgramFolderOfThis() + L"\\floor_handler.dll";
  const std::wstring server = std::wstring(kFloorKey) + L"\\InprocServer32";
  RegSetKeyValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, REG_SZ, dll.c_str(),
                  static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
  const wchar_t model[] = L"Apartment";
  RegSetKeyValueW(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel", REG_SZ, model,
                  sizeof(model));
  SetEnvironmentVariableW(L"VELMAR_FLOOR_ITEMS", std::to_wstring(submenu_items).c_str());
}

FloorRegistration::~FloorRegistration() { RegDeleteTreeW(HKEY_CLASSES_ROOT, kFloorKey); }

Selection::Selection(const std::wstring& path)
    : folder(ShellHost::FolderIdList(path.substr(0, path.find_last_of(L'\\')))) {
  if (FAILED(ShellHost::DataObjectFor({path}, &data))) Stop("the selection's data object");
  PidlPtr item(ILCreateFromPathW(path.c_str()));
  PCIDLIST_ABSOLUTE raw = item.get();
  if (!item || FAILED(SHCreateShellItemArrayFromIDLists(1, &raw, items.put())))
    Stop("the selection's item array");
}

const char* const kMenuStepNames[kSteps] = {"create", "Initialize", "QueryContextMenu",
                                            "DestroyMenu", "release"};
const char* const kCommandStepNames[kSteps] = {"create", "title/icon/state", "EnumSubCommands",
                                               "subcommands", "release"};

double MenuRightClick(const ShellHost& host, Handler handler, const Selection& selection,
                      std::vector<double>* steps) {
  LARGE_INTEGER marks[kSteps + 1];
  QueryPerformanceCounter(&marks[0]);
  {
    ComPtr<IShellExtInit> init;
    if (FAILED(host.CreateHandler(&init, MenuClass(handler))))
      Fail("creating the handler", handler);
    QueryPerformanceCounter(&marks[1]);
    init->Initialize(selection.folder.get(), selection.data.get(), nullptr);
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

double CommandRightClick(Handler handler, const Selection& selection, std::vector<double>* steps) {
  IShellItemArray* items = selection.items.get();
  LARGE_INTEGER marks[kSteps + 1];
  QueryPerformanceCounter(&marks[0]);
  {
    ComPtr<IExplorerCommand> command;
    if (FAILED(CoCreateInstance(CommandClass(handler), nullptr, CLSCTX_INPROC_SERVER,
                                IID_IExplorerCommand, command.put_void())))
      Fail("creating the command", handler);
    QueryPerformanceCounter(&marks[1]);
    // What Explorer asks of each command it shows.
    auto describe = [items](IExplorerCommand* shown) {
      LPWSTR text = nullptr;
      if (SUCCEEDED(shown->GetTitle(items, &text))) Free(text);
      text = nullptr;
      if (SUCCEEDED(shown->GetIcon(items, &text))) Free(text);
      EXPCMDSTATE state = ECS_ENABLED;
      shown->GetState(items, FALSE, &state);
    };
    describe(command.get());
    QueryPerformanceCounter(&marks[2]);
    ComPtr<IEnumExplorerCommand> list;
    if (FAILED(command->EnumSubCommands(list.put())) || !list) Fail("EnumSubCommands", handler);
    QueryPerformanceCounter(&marks[3]);
    for (;;) {
      ComPtr<IExplorerCommand> sub;
      ULONG fetched = 0;
      if (list->Next(1, sub.put(), &fetched) != S_OK || fetched != 1) break;
      describe(sub.get());
    }
    QueryPerformanceCounter(&marks[4]);
  }
  QueryPerformanceCounter(&marks[5]);
  if (steps)
    for (int i = 0; i < kSteps; ++i) (*steps)[i] += Milliseconds(marks[i], marks[i + 1]);
  return Milliseconds(marks[0], marks[kSteps]);
}
