// Plays Explorer for one or more right-clicks, in the order given on the command line:
//   background DIR        Initialize for the background of folder DIR
//   select N P1 .. PN     Initialize with the shell's data object for N items of one folder
//   droplist N P1 .. PN   Initialize with a plain drop list (paths the shell cannot name)
//   menu                  QueryContextMenu into a new popup menu (first identifier 100) and
//                         print the menu the user would see
//   menu-defaultonly      the same with CMF_DEFAULTONLY
//   again                 QueryContextMenu once more into the same menu
//   measure               WM_MEASUREITEM through IContextMenu3::HandleMenuMsg2
//   draw ID TOP HEIGHT    WM_DRAWITEM for item ID in a rectangle TOP..TOP+HEIGHT; prints
//                         the first row that got pixels
//   invoke N              InvokeCommand for command offset N (a verb given as a number)
//   invoke-verb TEXT      InvokeCommand with a verb given as a string
//   new                   release the handler (menu first) and create a fresh one
//   delete FILE           delete a file between two steps
// Prints one line per step: "create=0x........" or "<step>=0x........" with the HRESULT.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/heap_check.h"
#include "tests/support/menu_reader.h"
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

constexpr UINT kFirstCommand = 100;

ULONG_PTR Marker() {
  return reinterpret_cast<ULONG_PTR>(GetModuleHandleW(L"VelmarShellExtensions-x64.dll"));
}

HRESULT QueryMenu(IShellExtInit* handler, HMENU menu, UINT flags) {
  ComPtr<IContextMenu> context;
  HRESULT hr = handler->QueryInterface(IID_IContextMenu, context.put_void());
  if (FAILED(hr)) return hr;
  return context->QueryContextMenu(menu, 0, kFirstCommand, 0x7FFF, flags);
}

void PrintMenu(HMENU menu) { std::printf("%s", DescribeMenu(ReadMenu(menu), Marker()).c_str()); }

HRESULT Invoke(IShellExtInit* handler, LPCSTR verb) {
  ComPtr<IContextMenu> context;
  HRESULT hr = handler->QueryInterface(IID_IContextMenu, context.put_void());
  if (FAILED(hr)) return hr;
  CMINVOKECOMMANDINFO info = {};
  info.cbSize = sizeof(info);
  info.lpVerb = verb;
  info.nShow = SW_SHOWNORMAL;
  return context->InvokeCommand(&info);
}

void Measure(IShellExtInit* handler) {
  ComPtr<IContextMenu3> context;
  HRESULT hr = handler->QueryInterface(IID_IContextMenu3, context.put_void());
  MEASUREITEMSTRUCT measure = {};
  measure.CtlType = ODT_MENU;
  measure.itemID = kFirstCommand + 1;
  LRESULT result = 0;
  if (SUCCEEDED(hr))
    hr = context->HandleMenuMsg2(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure), &result);
  std::printf("measure=0x%08lX width=%u height=%u result=%lld\n", static_cast<unsigned long>(hr),
              measure.itemWidth, measure.itemHeight, static_cast<long long>(result));
}

void Draw(IShellExtInit* handler, UINT id, int top, int height) {
  ComPtr<IContextMenu3> context;
  HRESULT hr = handler->QueryInterface(IID_IContextMenu3, context.put_void());
  constexpr int kWidth = 64, kHeight = 160;
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(dc, target);
  DRAWITEMSTRUCT draw = {};
  draw.CtlType = ODT_MENU;
  draw.itemID = id;
  draw.hDC = dc;
  draw.rcItem = {0, top, kWidth, top + height};
  LRESULT result = 0;
  if (SUCCEEDED(hr))
    hr = context->HandleMenuMsg2(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw), &result);
  GdiFlush();
  int first_row = -1;
  const uint32_t* pixels = static_cast<const uint32_t*>(bits);
  for (int y = 0; y < kHeight && first_row < 0; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (pixels[y * kWidth + x] != 0) {
        first_row = y;
        break;
      }
  SelectObject(dc, previous);
  DeleteObject(target);
  DeleteDC(dc);
  std::printf("draw=0x%08lX result=%lld first_row=%d\n", static_cast<unsigned long>(hr),
              static_cast<long long>(result), first_row);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // plain line feeds, whatever reads them
  ShellHost host;
  if (!host.ready()) return 3;
  ComPtr<IShellExtInit> handler;
  UniqueMenu menu;  // declared after the handler: destroyed first, as a host closes its menu
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
    } else if (step == L"menu" || step == L"menu-defaultonly") {
      menu.reset(CreatePopupMenu());
      Report("menu",
             QueryMenu(handler.get(), menu.get(), step == L"menu" ? CMF_NORMAL : CMF_DEFAULTONLY));
      PrintMenu(menu.get());
    } else if (step == L"again" && menu.get()) {
      Report("again", QueryMenu(handler.get(), menu.get(), CMF_NORMAL));
      PrintMenu(menu.get());
    } else if (step == L"invoke" && i + 1 < argc) {
      Report("invoke", Invoke(handler.get(), MAKEINTRESOURCEA(_wtoi(argv[++i]))));
    } else if (step == L"invoke-verb" && i + 1 < argc) {
      std::wstring verb = argv[++i];
      Report("invoke", Invoke(handler.get(), std::string(verb.begin(), verb.end()).c_str()));
    } else if (step == L"measure") {
      Measure(handler.get());
    } else if (step == L"draw" && i + 3 < argc) {
      UINT id = static_cast<UINT>(_wtoi(argv[i + 1]));
      int top = _wtoi(argv[i + 2]), height = _wtoi(argv[i + 3]);
      i += 3;
      Draw(handler.get(), id, top, height);
    } else if (step == L"new") {
      menu.reset();
      handler.reset();
      if (!create()) return 3;
    } else if (step == L"delete" && i + 1 < argc) {
      Report("delete", DeleteFileW(argv[++i]) ? S_OK : HRESULT_FROM_WIN32(GetLastError()));
    } else {
      std::fprintf(stderr, "shell_host: cannot read step %d\n", i);
      return 2;
    }
    std::fflush(stdout);
  }
  menu.reset();
  handler.reset();
  if (!ProcessHeapsValid()) {
    std::fprintf(stderr, "shell_host: heap damaged\n");
    return static_cast<int>(kHeapCorruptedExit);
  }
  return 0;
}
