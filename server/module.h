// The module object of this DLL.
#pragma once

#include <string>
#include <vector>

#include "framework/module.h"

extern comfw::CComModule g_comModule;
