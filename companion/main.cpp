// Velmar.exe, the companion application. Command-line mode, for administrators and scripts:
//   Velmar.exe --list            the configured interpreters, one per line: path|version|bits|desc
//   Velmar.exe --detect          the interpreters Detect would add, in the same form
//   Velmar.exe --detect --save   adds them to config.cfg (beside this program) and saves; one
//                                that someone who cannot change config.cfg could replace is
//                                not added ("not saved: PATH: REASON" on standard error)
// For the installer:
//   Velmar.exe --install-settings    unless there is a config.cfg: the defaults, with the
//                                    interpreters Detect finds that the file may take
//   Velmar.exe --uninstall-settings  removes config.cfg while it is still what the install wrote
// Without administrator rights, a copy of its own (the portable zip, Scoop):
//   Velmar.exe --register-user     registers this copy for the current user (and its settings
//                                  and Windows 11's package where it can)
//   Velmar.exe --unregister-user   removes that registration when it names this copy
// For Windows 11's first context menu (the current user's):
//   Velmar.exe --register-package [PACKAGE]   registers the sparse package (Velmar.msix beside
//                                             this program by default) with this folder as its
//                                             external location
//   Velmar.exe --unregister-package [--all-users]  removes it (for every user: from an elevated
//                                             prompt, as the installer's removal does)
// A package command that fails also says why on the debugger output stream (the installer runs
// them where no one reads standard output).
// Exit code 0 on success; otherwise 1 (2 for unknown arguments) with a one-line reason. Output
// goes to standard output when it is redirected, else to the console it was started from.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "command/command_utils.h"
#include "common/text_encoding.h"
#include "companion/detect.h"
#include "companion/installed_settings.h"
#include "companion/interpreter_trust.h"
#include "companion/main_window.h"
#include "companion/settings_file.h"
#include "companion/sparse_package.h"
#include "companion/user_registration.h"
#include "config/configure.h"
#include "log/log.h"

namespace {

// Standard output or error: where it is redirected, UTF-8; else the console the program was
// started from.
class Output {
 public:
  explicit Output(DWORD stream = STD_OUTPUT_HANDLE) {
    handle_ = GetStdHandle(stream);
    if (handle_ && handle_ != INVALID_HANDLE_VALUE && GetFileType(handle_) != FILE_TYPE_UNKNOWN)
      return;
    handle_ = nullptr;
    // (a second stream finds the console attached already)
    if (AttachConsole(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED) {
      handle_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
      owned_ = handle_ != INVALID_HANDLE_VALUE;
      console_ = owned_;
    }
  }
  ~Output() {
    if (owned_) CloseHandle(handle_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void Line(const std::wstring& text) {
    if (!handle_ || handle_ == INVALID_HANDLE_VALUE) return;
    std::wstring line = text + L"\r\n";
    DWORD written = 0;
    if (console_) {
      WriteConsoleW(handle_, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    } else {
      std::string bytes = to_narrow(line, CP_UTF8);
      WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
  }

 private:
  HANDLE handle_ = nullptr;
  bool owned_ = false;
  bool console_ = false;
};

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length && length < MAX_PATH ? CommandUtils::dir_name(path) : L"";
}

std::wstring Describe(const PythonEntry& entry) {
  return setting_to_wide(entry.path + "|" + entry.version + "|" + entry.bits + "|" + entry.desc);
}

int Fail(Output& out, const std::wstring& reason, int code = 1) {
  out.Line(L"Velmar: " + reason);
  return code;
}

int RunCommandLine(const std::vector<std::wstring>& args) {
  Output out;
  if (args.size() == 1 &&
      (args[0] == L"--install-settings" || args[0] == L"--uninstall-settings")) {
    std::wstring reason;
    bool done = args[0] == L"--install-settings"
                    ? PlaceDefaultSettings(ProgramFolder(), Sources::FromSystem(), &reason)
                    : TakeUnchangedSettings(ProgramFolder(), &reason);
    return done ? 0 : Fail(out, reason);
  }
  if (args.size() == 1 && (args[0] == L"--register-user" || args[0] == L"--unregister-user")) {
    std::vector<std::wstring> said;
    int code = args[0] == L"--register-user" ? RegisterCopyForUser(ProgramFolder(), &said)
                                             : UnregisterCopyForUser(ProgramFolder(), &said);
    for (const std::wstring& line : said) out.Line(L"Velmar: " + line);
    return code;
  }
  const bool all_users = args.size() == 2 && args[1] == L"--all-users";
  if ((args[0] == L"--register-package" && args.size() <= 2) ||
      (args[0] == L"--unregister-package" && (args.size() == 1 || all_users))) {
    std::wstring reason;
    bool done =
        args[0] == L"--unregister-package"
            ? UnregisterSparsePackage(all_users, &reason)
            : RegisterSparsePackage(args.size() == 2 ? args[1] : ProgramFolder() + L"\\Velmar.msix",
                                    ProgramFolder(), &reason);
    if (done) return 0;
    const std::wstring said = std::wstring(L"cannot ") +
                              (args[0] == L"--unregister-package" ? L"remove" : L"register") +
                              L" the package: " + reason;
    log_write(LOG_MESSAGE, L"%s", said.c_str());
    return Fail(out, said);
  }
  const bool list = args.size() == 1 && args[0] == L"--list";
  const bool detect = !args.empty() && args[0] == L"--detect" &&
                      (args.size() == 1 || (args.size() == 2 && args[1] == L"--save"));
  if (!list && !detect)
    return Fail(
        out,
        L"usage: Velmar.exe --list | --detect [--save] | --install-settings | --uninstall-settings"
        L" | --register-package [PACKAGE] | --unregister-package [--all-users]"
        L" | --register-user | --unregister-user",
        2);

  const std::wstring config_path = ProgramFolder() + L"\\config.cfg";
  Configure configure;
  bool loaded = configure.load(config_path);
  if (list) {
    if (!loaded) return Fail(out, L"cannot read " + config_path);
    for (const PythonEntry& entry : configure.config.python) out.Line(Describe(entry));
    return 0;
  }
  if (!loaded) {
    // A file that is there but unreadable may hold the user's work: never overwrite it.
    if (file_exists(config_path)) return Fail(out, L"cannot read " + config_path);
    configure.config.command_line = kDefaultCommandLine;  // a first configuration
  }
  std::vector<PythonEntry> found = NewInterpreters(configure.config, Sources::FromSystem());
  for (const PythonEntry& entry : found) out.Line(Describe(entry));
  if (args.size() == 2) {
    const SettingsTrust trust(config_path);
    Output errors(STD_ERROR_HANDLE);
    for (const PythonEntry& entry : found) {
      std::wstring refusal = trust.Refusal(setting_to_wide(entry.path));
      if (refusal.empty())
        configure.config.python.push_back(entry);
      else
        errors.Line(L"not saved: " + setting_to_wide(entry.path) + L": " + refusal);
    }
    std::wstring reason;
    if (!SaveSettings(configure, config_path, &reason)) return Fail(out, reason);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < count; ++i) args.push_back(argv[i]);
  if (argv) LocalFree(argv);
  if (!args.empty()) return RunCommandLine(args);

  HWND window = CreateMainWindow(instance, ProgramFolder() + L"\\config.cfg");
  if (!window) return 1;
  ShowWindow(window, show);
  MSG message;
  while (IsWindow(window) && GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return 0;
}
