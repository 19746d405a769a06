// A test build (VELMAR_FAULT_INJECTION) throws at the point that the environment variable
// VELMAR_THROW_IN names, so that the tests can show that no exception leaves a COM method; and
// it stops at the pause point that VELMAR_PAUSE_IN names, so that a test can act on another
// thread at that very moment: it signals the event "VelmarPaused-<process id>" and waits (10 s
// at most) for "VelmarResume-<process id>", when the test made them. In the product both are
// nothing.
#pragma once

#include <windows.h>

#include <new>
#include <string>

#ifdef VELMAR_FAULT_INJECTION
#define VELMAR_FAULT_POINT(name) ::ThrowIfAsked(name)
#define VELMAR_PAUSE_POINT(name) ::PauseIfAsked(name)
inline bool Asked(const wchar_t* variable, const wchar_t* name) {
  wchar_t asked[64] = {};
  return GetEnvironmentVariableW(variable, asked, 64) && lstrcmpW(asked, name) == 0;
}
inline void ThrowIfAsked(const wchar_t* name) {
  if (Asked(L"VELMAR_THROW_IN", name)) throw std::bad_alloc();
}
inline void PauseIfAsked(const wchar_t* name) {
  if (!Asked(L"VELMAR_PAUSE_IN", name)) return;
  const std::wstring process = std::to_wstring(GetCurrentProcessId());
  HANDLE paused = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"VelmarPaused-" + process).c_str());
  HANDLE resume = OpenEventW(SYNCHRONIZE, FALSE, (L"VelmarResume-" + process).c_str());
  if (paused && resume) {
    SetEvent(paused);
    WaitForSingleObject(resume, 10000);
  }
  if (paused) CloseHandle(paused);
  if (resume) CloseHandle(resume);
}
#else
#define VELMAR_FAULT_POINT(name) static_cast<void>(0)
#define VELMAR_PAUSE_POINT(name) static_cast<void>(0)
#endif
