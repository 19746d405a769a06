#include "companion/installed_settings.h"

#include <windows.h>

#include "command/command_utils.h"
#include "common/text_encoding.h"
#include "companion/interpreter_trust.h"
#include "companion/settings_file.h"
#include "config/configure.h"
#include "log/log.h"

namespace {

struct SettingsFiles {
  explicit SettingsFiles(const std::wstring& folder)
      : defaults(folder + L"\\config.default.cfg"),
        settings(folder + L"\\config.cfg"),
        installed(folder + L"\\config.installed.cfg") {}
  std::wstring defaults, settings, installed;
};

bool CopyDefaults(const SettingsFiles& files, std::wstring* reason) {
  if (CopyFileW(files.defaults.c_str(), files.settings.c_str(), TRUE)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS && file_exists(files.settings)) return true;
  *reason = L"cannot copy " + files.defaults + L" to config.cfg: " + SystemMessage(error);
  return false;
}

bool SameBytes(const std::wstring& a, const std::wstring& b) {
  std::string first, second;
  return read_file(a, first) && read_file(b, second) && first == second;
}

}  // namespace

bool PlaceDefaultSettings(const std::wstring& folder, const Sources& sources,
                          std::wstring* reason) {
  const SettingsFiles files(folder);
  if (file_exists(files.settings)) return true;
  Configure configure;
  if (!configure.load(files.defaults)) return CopyDefaults(files, reason);
  const SettingsTrust trust(files.settings);
  size_t taken = 0;
  for (const PythonEntry& entry : NewInterpreters(configure.config, sources)) {
    const std::wstring path = setting_to_wide(entry.path);
    const std::wstring refusal = trust.Refusal(path);
    if (!refusal.empty()) {
      log_write(LOG_MESSAGE, L"not saved: %s: %s", path.c_str(), refusal.c_str());
      continue;
    }
    configure.config.python.push_back(entry);
    ++taken;
  }
  if (taken == 0) return CopyDefaults(files, reason);
  // Remembered first: settings that are in place are always known as the install's own.
  if (!SaveSettings(configure, files.installed, reason) ||
      !SaveSettings(configure, files.settings, reason)) {
    DeleteFileW(files.installed.c_str());
    return false;
  }
  return true;
}

bool TakeUnchangedSettings(const std::wstring& folder, std::wstring* reason) {
  const SettingsFiles files(folder);
  bool done = true;
  if (file_exists(files.settings) &&
      (SameBytes(files.settings, files.installed) || SameBytes(files.settings, files.defaults))) {
    if (!DeleteFileW(files.settings.c_str())) {
      *reason = L"cannot delete " + files.settings + L": " + SystemMessage(GetLastError());
      done = false;
    }
  }
  DeleteFileW(files.installed.c_str());
  return done;
}
