#include "companion/settings_file.h"

#include <windows.h>

#include "command/command_utils.h"

namespace {

std::wstring SystemMessage(DWORD error) {
  wchar_t text[512] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 text, 512, nullptr);
  std::wstring message = text;
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return message.empty() ? L"error " + std::to_wstring(error) : message;
}

}  // namespace

bool SaveSettings(const Configure& configure, const std::wstring& path, std::wstring* reason) {
  std::wstring folder = CommandUtils::dir_name(path);
  std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
  if (!configure.save(temporary)) {
    DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    *reason = L"cannot write in " + folder + L": " + SystemMessage(error);
    return false;
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    *reason = L"cannot replace " + path + L": " + SystemMessage(error);
    return false;
  }
  return true;
}

bool PlaceDefaultSettings(const std::wstring& folder, std::wstring* reason) {
  const std::wstring defaults = folder + L"\\config.default.cfg";
  const std::wstring settings = folder + L"\\config.cfg";
  if (CopyFileW(defaults.c_str(), settings.c_str(), TRUE)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS && file_exists(settings)) return true;
  *reason = L"cannot copy " + defaults + L" to config.cfg: " + SystemMessage(error);
  return false;
}

bool TakeUnchangedSettings(const std::wstring& folder, std::wstring* reason) {
  const std::wstring defaults = folder + L"\\config.default.cfg";
  const std::wstring settings = folder + L"\\config.cfg";
  if (!file_exists(settings)) return true;
  std::string default_bytes, settings_bytes;
  if (!read_file(defaults, default_bytes) || !read_file(settings, settings_bytes) ||
      default_bytes != settings_bytes)
    return true;  // edited, or not comparable: keep it
  if (DeleteFileW(settings.c_str())) return true;
  *reason = L"cannot delete " + settings + L": " + SystemMessage(GetLastError());
  return false;
}
