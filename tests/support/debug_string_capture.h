// The exact UTF-16 lines that code linked into this test program sends to the debugger output
// stream: the program's import of OutputDebugStringW is replaced (debug_string_capture.cpp).
#pragma once

#include <string>
#include <vector>

std::vector<std::wstring>& CapturedDebugLines();
