// Saving config.cfg so that it is never left half-written.
#pragma once

#include <string>

#include "config/configure.h"

// Writes a temporary file beside `path` and puts it in place in one step. On failure the old
// file is untouched and `reason` says why in one line.
bool SaveSettings(const Configure& configure, const std::wstring& path, std::wstring* reason);
