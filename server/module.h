// The module object of this DLL and the registration of its class.
#pragma once

#include <string>
#include <vector>

#include "framework/module.h"
#include "framework/registrar.h"

extern comfw::CComModule g_comModule;

// The class registration under HKEY_CLASSES_ROOT for a module file at `module_path`.
std::vector<comfw::RegistryKeySpec> ClassRegistryScript(const std::wstring& clsid_text,
                                                        const std::wstring& module_path);
// The command class of Windows 11's first menu: the class key alone.
std::vector<comfw::RegistryKeySpec> CommandClassRegistryScript(const std::wstring& clsid_text,
                                                               const std::wstring& module_path);
