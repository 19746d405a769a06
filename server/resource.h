#pragma once

#define IDS_PROJNAME 100
#define IDI_MODULE_ICON 219
