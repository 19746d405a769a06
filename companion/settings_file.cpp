#include "companion/settings_file.h"

#include <windows.h>

#include "command/command_utils.h"
#include "common/owners.h"

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

namespace {

// How many names the file has (a package manager may keep it as a hard link elsewhere).
DWORD LinkCount(const std::wstring& path) {
  ScopedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  return file.valid() && GetFileInformationByHandle(file.get(), &info) ? info.nNumberOfLinks : 0;
}

// Writes the complete file at `from` into `path` itself, keeping every name it has.
bool WriteInPlace(const std::wstring& from, const std::wstring& path) {
  std::string bytes;
  if (!read_file(from, bytes)) return false;
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                TRUNCATE_EXISTING, 0, nullptr));
  DWORD written = 0;
  return file.valid() &&
         WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && FlushFileBuffers(file.get());
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
  // A file with more than one name (Scoop keeps the user's settings as a hard link in its
  // persist folder) is written in place, so that every name sees the edit; the complete copy
  // beside it stays where that fails part way.
  if (LinkCount(path) > 1) {
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 10; ++attempt, Sleep(50)) {
      if (WriteInPlace(temporary, path)) {
        DeleteFileW(temporary.c_str());
        return true;
      }
      error = GetLastError();
      if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
    }
    *reason = L"cannot write " + path + L": " + SystemMessage(error) +
              L"; the new settings are in " + temporary;
    return false;
  }
  // ReplaceFileW keeps the old file's security and attributes. A right-click reading the file at
  // the same moment may hold it for a few milliseconds: such a refusal is tried again.
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 10; ++attempt) {
    bool replaced = false;
    if (!file_exists(path)) {
      replaced = MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    } else {
      // A file that may not be written is said so before anything is moved (Wine's ReplaceFileW
      // would leave a temporary file of its own behind).
      bool writable =
          ScopedHandle(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr))
              .valid();
      replaced = writable && ReplaceFileW(path.c_str(), temporary.c_str(), nullptr,
                                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    }
    if (replaced) return true;
    error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
    Sleep(50);
  }
  DeleteFileW(temporary.c_str());
  *reason = L"cannot replace " + path + L": " + SystemMessage(error);
  return false;
}
