#include "tests/support/debug_string_capture.h"

#include <windows.h>

std::vector<std::wstring>& CapturedDebugLines() {
  static std::vector<std::wstring> lines;
  return lines;
}

namespace {

void WINAPI RecordDebugString(LPCWSTR text) { CapturedDebugLines().push_back(text); }

}  // namespace

// Calls through the import slot land here instead of in kernel32.
extern "C" {
void(WINAPI* __imp_OutputDebugStringW)(LPCWSTR) = RecordDebugString;
}
