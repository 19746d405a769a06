#pragma once

#include <windows.h>

// The handler's class (VELMAR_CLASS_ID in CMakeLists.txt).
extern "C" const CLSID CLSID_ExtensionsShellEx;
