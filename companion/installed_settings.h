// The settings an install puts in place. config.cfg belongs to whoever edits it; the installer
// owns only the defaults, config.default.cfg, and the settings it wrote from them, remembered as
// config.installed.cfg. These run at install (and when a copy registers itself for its user) and
// at removal.
#pragma once

#include <string>

#include "companion/detect.h"

// Unless a config.cfg is there already: the defaults with the interpreters Detect finds in
// `sources` that the settings file may take (the rule Detect + Save follows), in Detect's order;
// the defaults alone when there are none.
bool PlaceDefaultSettings(const std::wstring& folder, const Sources& sources, std::wstring* reason);

// Deletes config.cfg while it is still what the install wrote or the unchanged defaults; an
// edited one stays. What was remembered goes either way.
bool TakeUnchangedSettings(const std::wstring& folder, std::wstring* reason);
