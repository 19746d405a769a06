#pragma once

#include <windows.h>

// The classes of the module (VELMAR_CLASS_ID and VELMAR_COMMAND_CLASS_ID of the build):
// the classic menu's handler, and the command of Windows 11's first menu.
extern "C" const CLSID CLSID_ExtensionsShellEx;
extern "C" const CLSID CLSID_ExplorerCommand;
