// Plays a CPython interpreter for the tests (Wine cannot hand a Linux program's output or exit
// code to a Windows parent). Reads standin.cfg beside itself ("key=value" lines):
//   version=3.12.1   bits=64
//   mode=normal | hang | store | nosite | nowidth | grandchild | flood (writes its version line
//        for ever) | grandchild-flood (leaves a process writing for ever) | long (a version of
//        40,000 characters and a warning line) | blank-first (a blank line before the version)
//        | linger (answers, closes its output, and takes 1.5 s more before it ends)
// and answers "--version" (stdout for 3.x, stderr for 2.x, as CPython does) and "-c PROGRAM"
// (the pointer-width program: exit code 32 or 64). Runner tests call it directly with:
//   --stdout TEXT  --stderr TEXT  --exit N  --print-bytes N  --sleep MS  --env NAME  --cwd
//   --read-stdin  --pid-file PATH
//   --grandchild PIDFILE (starts itself with --sleep, holding the output, and ends at once)
//   --grandchild-flood PIDFILE (the same with --flood)  --flood (writes for ever)
#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/explorer/temp_dir.h"
#include <vector>

namespace {

void Write(DWORD which, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::string Setting(const char* key, const char* fallback) {
  std::wstring path = OwnPath();
  path = path.substr(0, path.find_last_of(L'\\')) + L"\\standin.cfg";
  FILE* file = _wfopen(path.c_str(), L"rb");
  std::string value = fallback;
  if (!file) return value;
  char line[512];
  while (fgets(line, sizeof(line), file)) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.compare(0, strlen(key) + 1, std::string(key) + "=") == 0)
      value = text.substr(strlen(key) + 1);
  }
  fclose(file);
  return value;
}

void WritePid(const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return;
  fprintf(file, "%lu", GetCurrentProcessId());
  fclose(file);
}

void Flood(const std::string& line) {
  for (;;) Write(STD_OUTPUT_HANDLE, line);
}

int StartGrandchild(const std::wstring& pid_file, bool flood = false) {
  std::wstring line = L"\"" + OwnPath() + (flood ? L"\" --flood" : L"\" --sleep 60000");
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process))
    return 3;
  if (!pid_file.empty()) {  // written here, so it exists before this process ends
    FILE* file = _wfopen(pid_file.c_str(), L"wb");
    if (file) fprintf(file, "%lu", process.dwProcessId), fclose(file);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

int AnswerAsPython(const std::vector<std::wstring>& args) {
  std::string version = Setting("version", "3.12.1");
  int bits = atoi(Setting("bits", "64").c_str());
  std::string mode = Setting("mode", "normal");
  if (mode == "hang") Sleep(INFINITE);
  if (mode == "store") {
    Write(STD_OUTPUT_HANDLE,
          "Python was not found; run without arguments to install from the Microsoft Store, or "
          "disable this shortcut from Settings > Manage App Execution Aliases.\r\n");
    return 9009;
  }
  if (args.size() >= 2 && args[1] == L"--version") {
    if (mode == "grandchild" || mode == "grandchild-flood")
      StartGrandchild(L"", mode == "grandchild-flood");
    if (mode == "flood") Flood("Python " + version + "\r\n");
    if (mode == "long") version = std::string(40000, '7') + "\r\nwarning: a second line";
    if (mode == "blank-first") Write(STD_OUTPUT_HANDLE, "\r\n");
    Write(version[0] == '2' ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, "Python " + version + "\r\n");
    return 0;
  }
  if (args.size() >= 3 && args[1] == L"-c") {
    if (mode == "nowidth") return 1;
    const std::wstring& program = args[2];
    bool uses_sys_exit = program.find(L"sys.exit(8*struct.calcsize('P'))") != std::wstring::npos;
    if (!uses_sys_exit && program.find(L"exit(8*struct.calcsize('P'))") != std::wstring::npos) {
      if (mode == "nosite") {  // the embeddable distribution: no site, no exit()
        Write(STD_ERROR_HANDLE, "NameError: name 'exit' is not defined\r\n");
        return 1;
      }
      return bits;
    }
    return uses_sys_exit ? bits : 2;
  }
  return 2;
}

// The test's own options (--stdout TEXT, --exit CODE, ...), carried out in order; the exit code.
int RunScript(const std::vector<std::wstring>& args) {
  int exit_code = 0;
  std::wstring pid_file;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    const std::wstring value = i + 1 < args.size() ? args[i + 1] : L"";
    if (arg == L"--stdout") {
      Write(STD_OUTPUT_HANDLE, Utf8(value)), ++i;
    } else if (arg == L"--stderr") {
      Write(STD_ERROR_HANDLE, Utf8(value)), ++i;
    } else if (arg == L"--exit") {
      exit_code = _wtoi(value.c_str()), ++i;
    } else if (arg == L"--print-bytes") {
      std::string block(65536, 'x');
      for (long left = _wtol(value.c_str()); left > 0; left -= 65536)
        Write(STD_OUTPUT_HANDLE, block.substr(0, left < 65536 ? left : 65536));
      ++i;
    } else if (arg == L"--pid-file") {
      pid_file = value, ++i;
      WritePid(pid_file);
    } else if (arg == L"--sleep") {
      Sleep(static_cast<DWORD>(_wtol(value.c_str()))), ++i;
    } else if (arg == L"--env") {
      wchar_t buffer[32768] = {};
      GetEnvironmentVariableW(value.c_str(), buffer, 32768);
      Write(STD_OUTPUT_HANDLE, Utf8(buffer) + "\n"), ++i;
    } else if (arg == L"--cwd") {
      wchar_t buffer[MAX_PATH] = {};
      GetCurrentDirectoryW(MAX_PATH, buffer);
      Write(STD_OUTPUT_HANDLE, Utf8(buffer) + "\n");
    } else if (arg == L"--read-stdin") {
      char buffer[256];
      DWORD read = 0;
      while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &read, nullptr) &&
             read > 0) {
      }
      Write(STD_OUTPUT_HANDLE, "stdin ended\n");
    } else if (arg == L"--grandchild" || arg == L"--grandchild-flood") {
      StartGrandchild(value, arg == L"--grandchild-flood"), ++i;
      Write(STD_OUTPUT_HANDLE, "parent done\n");
    } else if (arg == L"--flood") {
      Flood(std::string(4096, 'x'));
    }
  }
  return exit_code;
}

}  // namespace

int wmain() {
  // Every start leaves a line beside the program, so a test can tell that nothing started it.
  std::wstring trace = OwnPath();
  trace = trace.substr(0, trace.find_last_of(L'\\')) + L"\\standin-starts.txt";
  if (FILE* file = _wfopen(trace.c_str(), L"ab")) fputs("started\n", file), fclose(file);
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> args(argv, argv + count);
  LocalFree(argv);
  if (args.size() < 2 || args[1].compare(0, 2, L"--") != 0 || args[1] == L"--version") {
    int answer = AnswerAsPython(args);
    if (Setting("mode", "") == "linger") {  // the exit code comes well after the output ended
      _close(1);                            // the runtime's descriptors hold the same handles
      _close(2);
      Sleep(1500);
    }
    return answer;
  }

  return RunScript(args);
}
