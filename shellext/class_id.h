#pragma once

#include <windows.h>

// {6B1E4C2A-93D7-4F05-8A2C-5D7E91B3C640}: the handler's class.
extern "C" const CLSID CLSID_ExtensionsShellEx;
