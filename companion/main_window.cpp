#include "companion/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "command/command_utils.h"
#include "common/text_encoding.h"
#include "companion/detect.h"
#include "companion/interpreter_trust.h"
#include "companion/settings_file.h"

namespace {

const wchar_t kClassName[] = L"VelmarCompanion";
// cmd searches the folder it starts in (the right-clicked one) before PATH: every program that
// cmd or Windows Terminal starts is named by its full path.
const wchar_t* const kTemplates[] = {
    L"cmd.exe /k __PROMPT__",  // Command Prompt
    L"cmd.exe /k __PROMPT__ & \"%SystemRoot%\\System32\\WindowsPowerShell\\v1.0\\powershell.exe\" "
    L"-NoLogo",  // PowerShell, PATH set by cmd
    L"wt.exe -d . \"%SystemRoot%\\System32\\cmd.exe\" /k __PROMPT__",  // Windows Terminal
};
const struct {
  int level;
  const wchar_t* text;
} kLevels[] = {{1, L"1: trace every shell call"},
               {4, L"4: settings only (default)"},
               {7, L"7: messages only"}};

class MainWindow {
 public:
  MainWindow(HWND window, const std::wstring& config_path)
      : window_(window), config_path_(config_path) {
    loaded_ = configure_.load(config_path_);
    if (!loaded_ && !file_exists(config_path_))
      configure_.config.command_line = kDefaultCommandLine;
    in_file_ = configure_.config.python;
  }

  ~MainWindow() {
    if (font_) DeleteObject(font_);
  }

  void Create() {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    // Positions are given at 96 DPI; Layout() scales them to the window's DPI.
    auto control = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                       int h, int id) {
      HWND child =
          CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
      placed_.push_back({child, {x, y, x + w, y + h}});
      return child;
    };
    list_ = control(WC_LISTVIEWW, L"", WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                    10, 10, 500, 220, kListId);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
    const wchar_t* const columns[] = {L"Menu label", L"Path", L"Found"};
    for (int i = 0; i < 3; ++i) {
      LVCOLUMNW column = {};
      column.mask = LVCF_TEXT;
      column.pszText = const_cast<wchar_t*>(columns[i]);
      ListView_InsertColumn(list_, i, &column);
    }
    int y = 10;
    for (const auto& button : {std::make_pair(L"Add...", kAddId),
                               {L"Remove", kRemoveId},
                               {L"Up", kUpId},
                               {L"Down", kDownId},
                               {L"Detect", kDetectId}}) {
      control(WC_BUTTONW, button.first, BS_PUSHBUTTON, 520, y, 100, 26, button.second);
      y += 34;
    }
    control(WC_STATICW, L"Description:", 0, 10, 242, 110, 20, 0);
    description_ =
        control(WC_EDITW, L"", WS_BORDER | ES_AUTOHSCROLL, 120, 240, 390, 22, kDescriptionId);
    control(WC_STATICW, L"Console:", 0, 10, 272, 110, 20, 0);
    template_ = control(WC_COMBOBOXW, L"", CBS_DROPDOWN | WS_VSCROLL | CBS_AUTOHSCROLL, 120, 270,
                        390, 200, kTemplateId);
    for (const wchar_t* text : kTemplates)
      SendMessageW(template_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SetWindowTextW(template_, setting_to_wide(configure_.config.command_line).c_str());
    control(WC_STATICW, L"Log level:", 0, 10, 302, 110, 20, 0);
    level_ = control(WC_COMBOBOXW, L"", CBS_DROPDOWNLIST, 120, 300, 390, 200, kLevelId);
    int selected = -1;
    for (int i = 0; i < 3; ++i) {
      SendMessageW(level_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLevels[i].text));
      if (kLevels[i].level == configure_.config.log_level) selected = i;
    }
    if (selected < 0) {  // a level set by hand stays what it is unless another one is chosen
      std::wstring own = std::to_wstring(configure_.config.log_level) + L": as in config.cfg";
      selected = static_cast<int>(
          SendMessageW(level_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(own.c_str())));
    }
    SendMessageW(level_, CB_SETCURSEL, selected, 0);
    project_ = control(WC_BUTTONW,
                       L"First, the right-clicked folder's own environment (.venv, venv, env, "
                       L".conda, pixi's)",
                       BS_AUTOCHECKBOX, 120, 330, 500, 20, kProjectEnvId);
    SendMessageW(project_, BM_SETCHECK, configure_.config.project_env ? BST_CHECKED : BST_UNCHECKED,
                 0);
    control(WC_BUTTONW, L"Save", BS_DEFPUSHBUTTON, 520, 298, 100, 26, kSaveId);
    status_ = control(WC_STATICW, (L"Settings: " + config_path_).c_str(), SS_PATHELLIPSIS, 10, 362,
                      610, 20, kStatusId);
    if (!loaded_ && file_exists(config_path_))
      SetStatus(L"config.cfg cannot be read; saving will replace it.");
    Layout(WindowDpi());
    Refresh(-1);
  }

  void Command(int id, int code) {
    int index = Selected();
    std::vector<PythonEntry>& python = configure_.config.python;
    switch (id) {
      case kAddId:
        if (code == BN_CLICKED) Add();
        break;
      case kRemoveId:
        if (code == BN_CLICKED && index >= 0) {
          python.erase(python.begin() + index);
          Refresh(index < static_cast<int>(python.size()) ? index : index - 1);
        }
        break;
      case kUpId:
      case kDownId: {
        int other = id == kUpId ? index - 1 : index + 1;
        if (code == BN_CLICKED && index >= 0 && other >= 0 &&
            other < static_cast<int>(python.size())) {
          std::swap(python[index], python[other]);
          Refresh(other);
        }
        break;
      }
      case kDetectId:
        if (code == BN_CLICKED) Detect();
        break;
      case kDescriptionId:
        if (code == EN_CHANGE && index >= 0 && !refreshing_) {
          python[index].desc = wide_to_setting(Text(description_));
          // The list-view macros keep the pointer past the statement: the text needs a name.
          std::wstring label = setting_to_wide(menu_label(python[index]));
          ListView_SetItemText(list_, index, 0, &label[0]);
        }
        break;
      case kSaveId:
        if (code == BN_CLICKED) Save();
        break;
      default:
        break;
    }
  }

  // Sizes the window, its controls, the list's columns and the font for `dpi`: the system's
  // message font, as the user has set it, at that resolution.
  void Layout(UINT dpi) {
    auto scaled = [dpi](int value) { return MulDiv(value, static_cast<int>(dpi), 96); };
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    typedef BOOL(WINAPI * ParametersForDpiFn)(UINT, UINT, void*, UINT, UINT);
    static const auto parameters_for_dpi =
        reinterpret_cast<ParametersForDpiFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    bool got = parameters_for_dpi
                   ? parameters_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)
                   : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    if (got && !parameters_for_dpi)
      metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, DpiOf(nullptr));
    HFONT font = got ? CreateFontIndirectW(&metrics.lfMessageFont) : nullptr;
    for (const Placed& placed : placed_) {
      const RECT& r = placed.at_96_dpi;
      MoveWindow(placed.control, scaled(r.left), scaled(r.top), scaled(r.right - r.left),
                 scaled(r.bottom - r.top), FALSE);
      SendMessageW(placed.control, WM_SETFONT,
                   reinterpret_cast<WPARAM>(font ? font : GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    }
    const int widths[] = {170, 270, 55};
    for (int i = 0; i < 3; ++i) ListView_SetColumnWidth(list_, i, scaled(widths[i]));
    if (font_) DeleteObject(font_);
    font_ = font;
    InvalidateRect(window_, nullptr, TRUE);
  }

  UINT WindowDpi() const { return DpiOf(window_); }

  // The window's DPI where Windows tells it per window, else the screen's.
  static UINT DpiOf(HWND window) {
    typedef UINT(WINAPI * DpiForWindowFn)(HWND);
    static const auto dpi_for_window = reinterpret_cast<DpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (dpi_for_window && window) return dpi_for_window(window);
    HDC screen = GetDC(nullptr);
    UINT dpi = screen ? static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX)) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi ? dpi : 96;
  }

  void SelectionChanged() {
    int index = Selected();
    refreshing_ = true;
    SetWindowTextW(description_, index >= 0
                                     ? setting_to_wide(configure_.config.python[index].desc).c_str()
                                     : L"");
    refreshing_ = false;
  }

 private:
  int Selected() const { return ListView_GetNextItem(list_, -1, LVNI_SELECTED); }

  static std::wstring Text(HWND control) {
    int length = GetWindowTextLengthW(control);
    std::wstring text(length + 1, L'\0');
    GetWindowTextW(control, &text[0], length + 1);
    text.resize(length);
    return text;
  }

  void SetStatus(const std::wstring& text) { SetWindowTextW(status_, text.c_str()); }

  void Refresh(int select) {
    ListView_DeleteAllItems(list_);
    const std::vector<PythonEntry>& python = configure_.config.python;
    for (size_t i = 0; i < python.size(); ++i) {
      std::wstring label = setting_to_wide(menu_label(python[i]));
      std::wstring path = setting_to_wide(python[i].path);
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(i);
      item.pszText = &label[0];
      ListView_InsertItem(list_, &item);
      ListView_SetItemText(list_, static_cast<int>(i), 1, &path[0]);
      ListView_SetItemText(list_, static_cast<int>(i), 2,
                           const_cast<wchar_t*>(file_exists(path) ? L"yes" : L"no"));
    }
    if (select >= 0) ListView_SetItemState(list_, select, LVIS_SELECTED, LVIS_SELECTED);
    SelectionChanged();
  }

  void Add() {
    wchar_t file[MAX_PATH] = {};
    OPENFILENAMEW open = {};
    open.lStructSize = sizeof(open);
    open.hwndOwner = window_;
    open.lpstrFilter = L"Python (python.exe)\0python.exe\0Programs (*.exe)\0*.exe\0";
    open.lpstrFile = file;
    open.nMaxFile = MAX_PATH;
    open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&open)) return;
    AddInterpreter(file);
  }

  void AddInterpreter(const std::wstring& path) {
    PythonEntry entry = EntryFor(path);
    configure_.config.python.push_back(entry);
    Refresh(static_cast<int>(configure_.config.python.size()) - 1);
    SetStatus(entry.version.empty() ? L"Added; its files record no Python version." : L"Added.");
  }

  void Detect() {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    std::vector<PythonEntry> found = NewInterpreters(configure_.config, Sources::FromSystem());
    SetCursor(previous);
    configure_.config.python.insert(configure_.config.python.end(), found.begin(), found.end());
    Refresh(found.empty() ? Selected() : static_cast<int>(configure_.config.python.size()) - 1);
    SetStatus(found.empty() ? L"Detect found nothing new."
                            : L"Detect added " + std::to_wstring(found.size()) +
                                  L" interpreter(s). Save to keep them.");
  }

  void Save() {
    std::wstring command_line = Text(template_);
    if (command_line.find(L"__PROMPT__") == std::wstring::npos) {
      SetStatus(L"The console command must keep __PROMPT__.");
      return;
    }
    configure_.config.command_line = wide_to_setting(command_line);
    int level = static_cast<int>(SendMessageW(level_, CB_GETCURSEL, 0, 0));
    if (level >= 0 && level < 3) configure_.config.log_level = kLevels[level].level;
    configure_.config.project_env = SendMessageW(project_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    std::wstring refused = LeaveOutUntrusted();
    std::wstring reason;
    if (SaveSettings(configure_, config_path_, &reason)) {
      in_file_ = configure_.config.python;
      if (refused.empty()) {
        SetStatus(L"Saved. The menu shows it on the next right-click.");
        return;
      }
      SetStatus(L"Saved, without the interpreters others could replace.");
      std::wstring text = L"Not saved, since someone who cannot change " + config_path_ +
                          L" could replace them:\n" + refused;
      MessageBoxW(window_, text.c_str(), L"Velmar", MB_OK | MB_ICONWARNING);
      return;
    }
    SetStatus(L"Not saved: " + reason);
    std::wstring question = L"The settings could not be saved:\n" + reason +
                            L"\n\nRestart Velmar as administrator to save them?";
    if (MessageBoxW(window_, question.c_str(), L"Velmar", MB_YESNO | MB_ICONWARNING) == IDYES) {
      wchar_t self[MAX_PATH] = {};
      GetModuleFileNameW(nullptr, self, MAX_PATH);
      if (reinterpret_cast<INT_PTR>(
              ShellExecuteW(window_, L"runas", self, nullptr, nullptr, SW_SHOWNORMAL)) > 32)
        DestroyWindow(window_);
    }
  }

  // Takes out of the list the interpreters new to the file that may not enter it, and says which
  // and why, a line each.
  std::wstring LeaveOutUntrusted() {
    const SettingsTrust trust(config_path_);
    std::wstring refused;
    std::vector<PythonEntry>& python = configure_.config.python;
    for (size_t i = 0; i < python.size();) {
      bool in_file = false;
      for (const PythonEntry& kept : in_file_) in_file = in_file || kept.path == python[i].path;
      std::wstring path = setting_to_wide(python[i].path);
      std::wstring refusal = in_file ? L"" : trust.Refusal(path);
      if (refusal.empty()) {
        ++i;
        continue;
      }
      refused += L"\n" + path + L": " + refusal;
      python.erase(python.begin() + i);
    }
    if (!refused.empty()) Refresh(-1);
    return refused;
  }

  HWND window_;
  std::wstring config_path_;
  std::vector<PythonEntry> in_file_;  // the interpreters the file held when read or saved
  Configure configure_;
  bool loaded_ = false;
  bool refreshing_ = false;
  HWND list_ = nullptr, description_ = nullptr, template_ = nullptr, level_ = nullptr,
       project_ = nullptr, status_ = nullptr;
  struct Placed {
    HWND control;
    RECT at_96_dpi;
  };
  std::vector<Placed> placed_;
  HFONT font_ = nullptr;  // owned: deleted with the window
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      auto* path = static_cast<const std::wstring*>(create->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(new MainWindow(window, *path)));
      break;
    }
    case WM_CREATE:
      self->Create();
      return 0;
    case WM_COMMAND:
      if (self) self->Command(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_DPICHANGED: {  // moved to a screen of another resolution
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      if (self) self->Layout(HIWORD(wparam));
      return 0;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lparam);
      if (self && header->idFrom == kListId && header->code == LVN_ITEMCHANGED)
        self->SelectionChanged();
      return 0;
    }
    case WM_NCDESTROY:
      delete self;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

HWND CreateMainWindow(HINSTANCE instance, const std::wstring& config_path) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  RegisterClassExW(&window_class);
  std::wstring path = config_path;
  HWND window =
      CreateWindowExW(0, kClassName, L"Velmar: Python here", WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX,
                      CW_USEDEFAULT, CW_USEDEFAULT, 646, 426, nullptr, nullptr, instance, &path);
  if (window) {  // 646 x 426 at 96 DPI
    UINT dpi = MainWindow::DpiOf(window);
    SetWindowPos(window, nullptr, 0, 0, MulDiv(646, dpi, 96), MulDiv(426, dpi, 96),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return window;
}
