// The module's resource identifiers: written into its resources by the server, named by the
// shell extension's menus. Below both, so that neither includes upwards.
#pragma once

#define IDS_PROJNAME 100
#define IDI_MODULE_ICON 219
