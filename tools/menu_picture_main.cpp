// Opens the real popup menu, as Explorer shows it on a right-click, with the extension's items
// in it, and opens the "Python here" submenu by keyboard. Meant to run under a display
// (scripts/pictures.sh takes the screenshot); it closes itself after a few seconds.
// Usage: menu_picture.exe FOLDER
#include <windows.h>

#include <string>

#include "common/owners.h"
#include "tools/explorer/shell_host.h"

namespace {

constexpr UINT_PTR kOpenSubmenu = 1, kClose = 2;

void PressKey(WORD key) {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = key;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == kOpenSubmenu) {
    KillTimer(window, kOpenSubmenu);
    for (int i = 0; i < 3; ++i) PressKey(VK_DOWN);  // onto "Python here"
    PressKey(VK_RIGHT);
    return 0;
  }
  if (message == WM_TIMER && wparam == kClose) {
    EndMenu();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  ShellHost host;
  ComPtr<IShellExtInit> init;
  if (FAILED(host.CreateHandler(&init))) return 3;
  if (FAILED(ShellHost::InitializeBackground(init.get(), argv[1]))) return 4;
  ComPtr<IContextMenu> handler;
  if (FAILED(init.As(IID_IContextMenu, &handler))) return 5;

  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"VelmarMenuPicture";
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, L"VelmarMenuPicture", L"Velmar", WS_POPUP | WS_VISIBLE, 0, 0,
                                640, 400, nullptr, nullptr, window_class.hInstance, nullptr);
  if (!window) return 6;

  {
    UniqueMenu menu(CreatePopupMenu());
    AppendMenuW(menu.get(), MF_STRING, 1, L"View");
    AppendMenuW(menu.get(), MF_STRING, 2, L"Refresh");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    handler->QueryContextMenu(menu.get(), 3, 100, 0x7FFF, CMF_NORMAL);
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, 3, L"Properties");
    SetForegroundWindow(window);
    SetTimer(window, kOpenSubmenu, 1000, nullptr);
    SetTimer(window, kClose, 6000, nullptr);
    TrackPopupMenuEx(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN, 20, 20, window, nullptr);
  }
  DestroyWindow(window);
  return 0;
}
