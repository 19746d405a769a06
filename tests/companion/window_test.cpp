// The companion's window, driven by messages as a user's clicks would drive it (needs a display:
// tests/companion/run_with_display.sh gives it one under Xvfb).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "companion/main_window.h"
#include "tools/explorer/child_process.h"
#include "tools/explorer/temp_dir.h"

namespace {

std::wstring ItemText(HWND list, int item, int column) {
  wchar_t text[512] = {};
  ListView_GetItemText(list, item, column, text, 512);
  return text;
}

void Click(HWND window, int id) {
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// Settings naming one interpreter that is not there, and in `folder`\py an interpreter that
// Detect finds on PATH (it reads the version the executable records, 3.13.0, never asks it).
void PlaceSettingsAndInterpreter(const TempDir& folder, std::wstring* config,
                                 std::wstring* python) {
  const std::wstring py = folder.path() + L"\\py";
  *python = py + L"\\python.exe";
  *config = folder.path() + L"\\config.cfg";
  ASSERT_TRUE(CreateDirectoryW(py.c_str(), nullptr));
  ASSERT_TRUE(
      CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(), python->c_str(), FALSE));
  ASSERT_TRUE(WriteTextFile(*config,
                            "<configure><command_line>cmd.exe /k __PROMPT__</command_line>"
                            "<log_level>4</log_level><project_env>1</project_env>"
                            "<python><path>C:\\old\\python.exe</path>"
                            "<version>2.7</version><bits>32</bits></python></configure>"));
}

TEST(CompanionWindow, DetectEditReorderAndSave) {
  TempDir folder(L"window");
  std::wstring config, python;
  ASSERT_NO_FATAL_FAILURE(PlaceSettingsAndInterpreter(folder, &config, &python));
  wchar_t saved_path[32768] = {};
  GetEnvironmentVariableW(L"PATH", saved_path, 32768);
  SetEnvironmentVariableW(L"PATH", (folder.path() + L"\\py;" + saved_path).c_str());
  HWND window = CreateMainWindow(GetModuleHandleW(nullptr), config);
  ASSERT_NE(window, nullptr);
  HWND list = GetDlgItem(window, kListId);
  ASSERT_EQ(ListView_GetItemCount(list), 1);
  EXPECT_EQ(ItemText(list, 0, 0), L"Python 2.7 32");
  EXPECT_EQ(ItemText(list, 0, 2), L"no");  // the file is not there
  HWND project = GetDlgItem(window, kProjectEnvId);
  EXPECT_EQ(SendMessageW(project, BM_GETCHECK, 0, 0), BST_CHECKED);

  Click(window, kDetectId);
  SetEnvironmentVariableW(L"PATH", saved_path);
  ASSERT_EQ(ListView_GetItemCount(list), 2);
  EXPECT_EQ(ItemText(list, 1, 0), L"Python 3.13.0 64");
  EXPECT_EQ(ItemText(list, 1, 1), python);
  EXPECT_EQ(ItemText(list, 1, 2), L"yes");
  Click(window, kDetectId);  // nothing new the second time
  EXPECT_EQ(ListView_GetItemCount(list), 2);

  // The new entry is selected: give it a description, move it up, drop the old one.
  SetWindowTextW(GetDlgItem(window, kDescriptionId), L"work");
  EXPECT_EQ(ItemText(list, 1, 0), L"Python 3.13.0 64|work");
  Click(window, kUpId);
  EXPECT_EQ(ItemText(list, 0, 0), L"Python 3.13.0 64|work");
  ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
  Click(window, kRemoveId);
  ASSERT_EQ(ListView_GetItemCount(list), 1);

  // A console command without __PROMPT__ is refused; a preset is saved.
  HWND console = GetDlgItem(window, kTemplateId);
  SetWindowTextW(console, L"cmd.exe /k");
  std::string before = ReadTextFile(config);
  Click(window, kSaveId);
  EXPECT_EQ(ReadTextFile(config), before);
  SetWindowTextW(console, L"wt.exe -d . cmd.exe /k __PROMPT__");
  SendMessageW(GetDlgItem(window, kLevelId), CB_SETCURSEL, 0, 0);  // trace
  Click(window, kSaveId);

  Configure saved;
  ASSERT_TRUE(saved.load(config));
  EXPECT_EQ(saved.config.command_line, "wt.exe -d . cmd.exe /k __PROMPT__");
  EXPECT_EQ(saved.config.log_level, 1);
  EXPECT_TRUE(saved.config.project_env) << "Detect + Save kept the switch";
  ASSERT_EQ(saved.config.python.size(), 1u);
  EXPECT_EQ(saved.config.python[0].path, Ascii(python));
  EXPECT_EQ(saved.config.python[0].desc, "work");

  SendMessageW(project, BM_SETCHECK, BST_UNCHECKED, 0);
  Click(window, kSaveId);
  DestroyWindow(window);
  ASSERT_TRUE(saved.load(config));
  EXPECT_FALSE(saved.config.project_env);
}

// The text of the message box the window shows next, which is then closed (from another thread:
// the window's own waits in the box).
class MessageBoxReader {
 public:
  MessageBoxReader() {
    thread_ = CreateThread(
        nullptr, 0,
        [](void* self) -> DWORD {
          auto* reader = static_cast<MessageBoxReader*>(self);
          for (int i = 0; i < 100; ++i, Sleep(50)) {
            HWND box = FindWindowW(L"#32770", L"Velmar");
            if (!box) continue;
            wchar_t text[2048] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 2048);
            reader->text_ = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return 0;
          }
          return 1;
        },
        this, 0, nullptr);
  }
  ~MessageBoxReader() { Wait(); }
  MessageBoxReader(const MessageBoxReader&) = delete;
  MessageBoxReader& operator=(const MessageBoxReader&) = delete;
  const std::wstring& Wait() {
    if (thread_) WaitForSingleObject(thread_, INFINITE), CloseHandle(thread_), thread_ = nullptr;
    return text_;
  }

 private:
  HANDLE thread_ = nullptr;
  std::wstring text_;
};

// Settings of an installation for every user take no interpreter from outside Program Files and
// Windows: Detect offers it, Save leaves it out and the window says which and why.
TEST(CompanionWindow, SavingLeavesOutWhatOthersCouldReplace) {
  const std::wstring install = L"C:\\Program Files\\VelmarWindowTest";
  ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));
  std::wstring config = install + L"\\config.cfg";
  ASSERT_TRUE(WriteTextFile(config,
                            "<configure><command_line>cmd.exe /k __PROMPT__</command_line>"
                            "<python><path>C:\\kept\\python.exe</path><version>3.9</version>"
                            "<bits>64</bits></python></configure>"));
  TempDir folder(L"window-trust");
  std::wstring python = folder.path() + L"\\python.exe";
  ASSERT_TRUE(
      CopyFileW((ProgramFolder() + L"\\python_standin.exe").c_str(), python.c_str(), FALSE));
  wchar_t saved_path[32768] = {};
  GetEnvironmentVariableW(L"PATH", saved_path, 32768);
  SetEnvironmentVariableW(L"PATH", (folder.path() + L";" + saved_path).c_str());

  HWND window = CreateMainWindow(GetModuleHandleW(nullptr), config);
  ASSERT_NE(window, nullptr);
  Click(window, kDetectId);
  SetEnvironmentVariableW(L"PATH", saved_path);
  HWND list = GetDlgItem(window, kListId);
  ASSERT_EQ(ListView_GetItemCount(list), 2);
  {
    MessageBoxReader box;
    Click(window, kSaveId);
    EXPECT_EQ(box.Wait(), L"Not saved, since someone who cannot change " + config +
                              L" could replace them:\n\n" + python +
                              L": outside Program Files and Windows, where the interpreters of an "
                              L"installation for every user must lie");
  }
  EXPECT_EQ(ListView_GetItemCount(list), 1);  // the one the file held stays
  DestroyWindow(window);
  Configure saved;
  EXPECT_TRUE(saved.load(config));
  ASSERT_EQ(saved.config.python.size(), 1u);
  EXPECT_EQ(saved.config.python[0].path, "C:\\kept\\python.exe");
  RemoveTree(install);
}

// Laid out for the screen's resolution: at 192 DPI (the second run of run_with_display.sh) the
// list is twice as wide as at 96 and the text is the system's message font at that size.
TEST(CompanionWindow, LaidOutForTheScreensResolution) {
  TempDir folder(L"window-dpi");
  HWND window = CreateMainWindow(GetModuleHandleW(nullptr), folder.path() + L"\\config.cfg");
  ASSERT_NE(window, nullptr);
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  std::printf("screen: %d DPI\n", dpi);
  HWND list = GetDlgItem(window, kListId);
  RECT rect = {};
  GetWindowRect(list, &rect);
  EXPECT_EQ(rect.right - rect.left, MulDiv(500, dpi, 96));
  EXPECT_EQ(ListView_GetColumnWidth(list, 1), MulDiv(270, dpi, 96));
  LOGFONTW used = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof(used), &used);
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  EXPECT_EQ(used.lfHeight, metrics.lfMessageFont.lfHeight);
  EXPECT_STREQ(used.lfFaceName, metrics.lfMessageFont.lfFaceName);
  DestroyWindow(window);
}

// A level the window does not offer (set by hand) is saved as it was.
TEST(CompanionWindow, SavingKeepsALevelSetByHand) {
  TempDir folder(L"window-level");
  std::wstring config = folder.path() + L"\\config.cfg";
  ASSERT_TRUE(WriteTextFile(config,
                            "<configure><command_line>cmd.exe /k __PROMPT__</command_line>"
                            "<log_level>2</log_level></configure>"));
  HWND window = CreateMainWindow(GetModuleHandleW(nullptr), config);
  ASSERT_NE(window, nullptr);
  Click(window, kSaveId);
  DestroyWindow(window);
  Configure saved;
  ASSERT_TRUE(saved.load(config));
  EXPECT_EQ(saved.config.log_level, 2);
}

}  // namespace
