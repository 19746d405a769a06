// Runs a command line as a debuggee and prints what it wrote to the debugger output stream,
// then its own output. Exit code: the child's.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/explorer/child_process.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: debug_run PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  std::wstring line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += L' ';
    line += L'"' + std::wstring(argv[i]) + L'"';
  }
  CapturedRun run = RunUnderDebugger(line);
  if (!run.started) {
    std::fprintf(stderr, "debug_run: could not start the program: %s\n", run.start_failure.c_str());
    return 2;
  }
  for (const std::string& text : run.debug_lines) std::printf("  log | %s\n", text.c_str());
  std::printf("%s", run.output.c_str());
  return static_cast<int>(run.exit_code);
}
