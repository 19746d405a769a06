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
