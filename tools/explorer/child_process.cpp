#include "tools/explorer/child_process.h"

#include "tools/explorer/heap_check.h"
#include "common/owners.h"
#include "tools/explorer/temp_dir.h"

namespace {

std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  std::string text;
  if (info.fUnicode) {
    std::wstring wide(info.nDebugStringLength, L'\0');
    SIZE_T read = 0;
    ReadProcessMemory(process, info.lpDebugStringData, &wide[0], wide.size() * sizeof(wchar_t),
                      &read);
    wide.resize(read / sizeof(wchar_t));
    for (wchar_t c : wide) text += c < 0x80 ? static_cast<char>(c) : '?';
  } else {
    text.resize(info.nDebugStringLength);
    SIZE_T read = 0;
    ReadProcessMemory(process, info.lpDebugStringData, &text[0], text.size(), &read);
    text.resize(read);
  }
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// Takes in what one debug event says about the child; the answer to give the debugger.
DWORD TakeDebugEvent(const DEBUG_EVENT& event, HANDLE process, CapturedRun* run) {
  const DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
  switch (event.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
      ScopedHandle{event.u.CreateProcessInfo.hFile}.reset();  // the file handle is ours
      break;
    case LOAD_DLL_DEBUG_EVENT:
      ScopedHandle{event.u.LoadDll.hFile}.reset();
      break;
    case OUTPUT_DEBUG_STRING_EVENT:
      run->debug_lines.push_back(ReadDebugString(process, event.u.DebugString));
      break;
    case EXCEPTION_DEBUG_EVENT:
      if (code == EXCEPTION_ACCESS_VIOLATION && event.u.Exception.dwFirstChance)
        ++run->access_violations;
      if (code != EXCEPTION_BREAKPOINT) return DBG_EXCEPTION_NOT_HANDLED;
      break;
    default:
      break;
  }
  return DBG_CONTINUE;
}

}  // namespace

CapturedRun RunUnderDebugger(const std::wstring& command_line, DWORD timeout_ms,
                             const std::wstring& work_dir) {
  CapturedRun run;
  TempDir folder(L"capture");
  std::wstring output_path = folder.path() + L"\\stdout.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  ScopedHandle output(CreateFileW(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (output.get() == INVALID_HANDLE_VALUE) {
    run.start_failure = "its output file, error " + std::to_string(GetLastError());
    return run;
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION process = {};
  std::wstring mutable_line = command_line;
  if (!CreateProcessW(nullptr, &mutable_line[0], nullptr, nullptr, TRUE,
                      DEBUG_ONLY_THIS_PROCESS | CREATE_NO_WINDOW, nullptr,
                      work_dir.empty() ? nullptr : work_dir.c_str(), &startup, &process)) {
    run.start_failure = "CreateProcessW, error " + std::to_string(GetLastError());
    // What a program that died while starting wrote (Wine's loader writes its complaints there).
    output.reset();
    const std::string written = ReadTextFile(output_path);
    if (!written.empty()) run.start_failure += ", having written: " + written;
    return run;
  }
  run.started = true;
  ScopedHandle process_handle(process.hProcess);
  ScopedHandle thread_handle(process.hThread);
  output.reset();

  DWORD deadline = GetTickCount() + timeout_ms;
  for (;;) {
    DEBUG_EVENT event = {};
    DWORD now = GetTickCount();
    DWORD wait = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    if (!WaitForDebugEvent(&event, wait)) {
      if (!run.timed_out) {
        run.timed_out = true;
        TerminateProcess(process.hProcess, 1);
        deadline = GetTickCount() + 10000;
        continue;
      }
      break;
    }
    DWORD status = TakeDebugEvent(event, process.hProcess, &run);
    bool exited = event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
    if (exited) {
      run.exit_code = event.u.ExitProcess.dwExitCode;
      NoteChildExit(run.exit_code);
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    if (exited) break;
  }

  WaitForSingleObject(process.hProcess, 10000);
  run.output = ReadTextFile(output_path);
  return run;
}

DWORD RunAndWait(const std::wstring& command_line, DWORD timeout_ms) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring mutable_line = command_line;
  if (!CreateProcessW(nullptr, &mutable_line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process))
    return kNotStarted;
  ScopedHandle process_handle(process.hProcess);
  ScopedHandle thread_handle(process.hThread);
  if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, kNotStarted);
    WaitForSingleObject(process.hProcess, INFINITE);
    return kNotStarted;
  }
  DWORD code = kNotStarted;
  GetExitCodeProcess(process.hProcess, &code);
  NoteChildExit(code);
  return code;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\'));
}
