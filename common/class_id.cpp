#include "common/class_id.h"

#include "velmar_identity.h"

extern "C" const CLSID CLSID_ExtensionsShellEx = VELMAR_CLASS_ID_VALUE;
extern "C" const CLSID CLSID_ExplorerCommand = VELMAR_COMMAND_CLASS_ID_VALUE;
