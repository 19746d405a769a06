#include "tests/support/installed_files.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "tools/explorer/temp_dir.h"

bool RecordInExecutable(const std::wstring& path, const std::string& version,
                        const std::string& bits) {
  std::string bytes = ReadTextFile(path);
  if (bytes.size() < 0x40) return false;
  uint32_t header = 0;
  memcpy(&header, &bytes[0x3C], sizeof(header));
  if (header + 6 > bytes.size()) return false;
  const uint16_t machine = bits == "32" ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
  memcpy(&bytes[header + 4], &machine, sizeof(machine));
  const uint32_t signature = VS_FFI_SIGNATURE;
  const size_t fixed = bytes.find(std::string(reinterpret_cast<const char*>(&signature), 4));
  if (fixed == std::string::npos) return false;
  unsigned major = 0, minor = 0, micro = 0;
  if (version != "-" && sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &micro) != 3)
    return false;
  const uint32_t most = major << 16 | minor, least = (micro * 1000 + 150) << 16;
  memcpy(&bytes[fixed + 8], &most, sizeof(most));  // dwFileVersionMS, dwFileVersionLS
  memcpy(&bytes[fixed + 12], &least, sizeof(least));
  return WriteTextFile(path, bytes);
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return false;
  char* unix_link = unix_name(link.c_str());
  char* unix_target = unix_name(target.c_str());
  std::wstring command;
  if (unix_link && unix_target)
    command = L"ln -s \"" + std::wstring(unix_target, unix_target + strlen(unix_target)) +
              L"\" \"" + std::wstring(unix_link, unix_link + strlen(unix_link)) + L"\"";
  HeapFree(GetProcessHeap(), 0, unix_link);
  HeapFree(GetProcessHeap(), 0, unix_target);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (command.empty() || !CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0,
                                         nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // A Linux program's end is not reported to a Windows parent: wait for the link instead.
  for (int i = 0; i < 250; ++i, Sleep(20)) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(link.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    FindClose(search);
    return true;
  }
  return false;
}
