#include "common/class_id.h"

// The values come from the build (CMakeLists.txt).
extern "C" const CLSID CLSID_ExtensionsShellEx = VELMAR_CLASS_ID_VALUE;
extern "C" const CLSID CLSID_ExplorerCommand = VELMAR_COMMAND_CLASS_ID_VALUE;
