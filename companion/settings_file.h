// Saving config.cfg so that it is never left half-written.
#pragma once

#include <windows.h>

#include <string>

#include "config/configure.h"

// The system's one-line text for an error code.
std::wstring SystemMessage(DWORD error);

// Writes a temporary file beside `path` and puts it in place in one step. On failure the old
// file is untouched and `reason` says why in one line.
bool SaveSettings(const Configure& configure, const std::wstring& path, std::wstring* reason);
