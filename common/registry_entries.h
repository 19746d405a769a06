// What registering the module writes: the two classes (the classic menu's handler and Windows
// 11's command) with the module as their in-process server, the handler keys of all files,
// folders, folders' backgrounds and text files, and the approved-extensions value. regsvr32 writes
// them for every user (HKCR, HKLM); the companion's --register-user and the per-user package for
// the current user alone (HKCU\Software\Classes, HKCU).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/registry.h"

extern const wchar_t kApprovedKey[];   // below HKLM, or HKCU
extern const wchar_t kApprovedName[];  // the approved value's data
extern const wchar_t* const kHandlerKeys[3];

std::wstring ClassIdText(REFCLSID clsid);

// The handler's class key and its handler key under the text-file class.
std::vector<RegistryKeySpec> ClassRegistryScript(const std::wstring& clsid_text,
                                                 const std::wstring& module_path);
// The command class of Windows 11's first menu: the class key alone.
std::vector<RegistryKeySpec> CommandClassRegistryScript(const std::wstring& clsid_text,
                                                        const std::wstring& module_path);

// The current user's registration of the module at `module_path`, written or replaced whole.
HRESULT RegisterForCurrentUser(const std::wstring& module_path);
// Takes the current user's registration away, whatever module it names.
HRESULT UnregisterForCurrentUser();
// The module the current user's registration names; empty when there is none.
std::wstring ModuleRegisteredForCurrentUser();
