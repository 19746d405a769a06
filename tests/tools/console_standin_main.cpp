// Plays the console for the tests: records how it was started into the file named by
// VELMAR_CONSOLE_RECORD (UTF-8 lines "key=value"), then ends.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/explorer/temp_dir.h"

namespace {

std::wstring Variable(const wchar_t* name, bool* set = nullptr) {
  static wchar_t buffer[32768];
  buffer[0] = 0;
  DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  if (set) *set = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  return buffer;
}

}  // namespace

int wmain() {
  std::wstring record = Variable(L"VELMAR_CONSOLE_RECORD");
  if (record.empty()) return 2;
  wchar_t self[MAX_PATH] = {}, folder[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, folder);
  bool python_path_set = false, no_current_set = false;
  std::wstring python_path = Variable(L"PYTHON_PATH", &python_path_set);
  std::wstring no_current = Variable(L"NoDefaultCurrentDirectoryInExePath", &no_current_set);
  std::string text =
      "exe=" + Utf8(self) + "\n" + "cmdline=" + Utf8(GetCommandLineW()) + "\n" +
      "cwd=" + Utf8(folder) + "\n" + "PATH=" + Utf8(Variable(L"PATH")) + "\n" +
      "PROMPT=" + Utf8(Variable(L"PROMPT")) + "\n" +
      (python_path_set ? "PYTHON_PATH=" + Utf8(python_path) + "\n" : "") +
      (no_current_set ? "NoDefaultCurrentDirectoryInExePath=" + Utf8(no_current) + "\n" : "");
  // Written under another name first, so a reader never sees half a record.
  std::wstring partial = record + L".partial";
  FILE* file = _wfopen(partial.c_str(), L"wb");
  if (!file) return 3;
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);
  return MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
