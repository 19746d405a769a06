#include "shellext/class_id.h"

// The value comes from the build (VELMAR_CLASS_ID in CMakeLists.txt).
extern "C" const CLSID CLSID_ExtensionsShellEx = VELMAR_CLASS_ID_VALUE;
