// Saving config.cfg so that it is never left half-written.
#pragma once

#include <string>

#include "config/configure.h"

// Writes a temporary file beside `path` and puts it in place in one step. On failure the old
// file is untouched and `reason` says why in one line.
bool SaveSettings(const Configure& configure, const std::wstring& path, std::wstring* reason);

// config.cfg belongs to whoever edits it; the installer owns only the defaults,
// config.default.cfg, in the same folder. These two run at install and at removal.

// Copies the defaults to config.cfg unless a config.cfg is there already.
bool PlaceDefaultSettings(const std::wstring& folder, std::wstring* reason);

// Deletes config.cfg while it is still byte for byte the defaults; an edited one stays.
bool TakeUnchangedSettings(const std::wstring& folder, std::wstring* reason);
