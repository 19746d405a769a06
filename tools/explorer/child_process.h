// Child programs of the Explorer stand-in, the tools and the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct CapturedRun {
  bool started = false;
  std::string start_failure;  // why it did not start: the step and the system's error
  bool timed_out = false;
  DWORD exit_code = 0;
  int access_violations = 0;  // raised in the program, handled or not
  std::vector<std::string> debug_lines;
  std::string output;
};

// Runs a program as a debuggee and collects what it writes to the debugger output stream
// (Wine hands a debugger the ANSI form of each line) and to its standard output and error, and
// counts the access violations raised in it (a handler that catches one still hides a fault).
CapturedRun RunUnderDebugger(const std::wstring& command_line, DWORD timeout_ms = 60000,
                             const std::wstring& work_dir = L"");

constexpr DWORD kNotStarted = 0xFFFFFFFF;
// Runs a program and gives its exit code (kNotStarted when it did not start or end in time).
DWORD RunAndWait(const std::wstring& command_line, DWORD timeout_ms = 60000);

// The folder of the running program, where the build puts the DLL, the tools and the tests.
std::wstring ProgramFolder();
