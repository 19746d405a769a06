// The companion's window: the interpreters as the menu shows them, with Add, Remove, Up, Down,
// the description, the console template, the log level, the project environment switch, Detect
// and Save.
#pragma once

#include <windows.h>

#include <string>

#include "config/configure.h"

enum MainWindowControl {
  kListId = 101,
  kAddId,
  kRemoveId,
  kUpId,
  kDownId,
  kDetectId,
  kDescriptionId,
  kTemplateId,
  kLevelId,
  kSaveId,
  kStatusId,
  kProjectEnvId,  // appended: the window test drives the controls by these numbers
};

// Creates the window for the settings at `config_path` (not shown yet); null when it cannot.
HWND CreateMainWindow(HINSTANCE instance, const std::wstring& config_path);
