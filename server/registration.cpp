// The registry entries that make Explorer load the handler.
#include <windows.h>
#include <objbase.h>

#include "common/registry.h"
#include "server/module.h"
#include "common/registry_entries.h"
#include "shellext/explorer_command.h"
#include "shellext/extensions_shell_ex.h"

namespace {

// Writes or removes what `script` gives for this module's path.
HRESULT UpdateClass(BOOL bRegister, REFCLSID clsid,
                    std::vector<RegistryKeySpec> (*script)(const std::wstring&,
                                                           const std::wstring&)) {
  std::wstring module_path = g_comModule.GetModulePath();
  if (module_path.empty()) return E_FAIL;
  std::vector<RegistryKeySpec> keys = script(ClassIdText(clsid), module_path);
  return bRegister ? RegisterKeys(HKEY_CLASSES_ROOT, keys)
                   : UnregisterKeys(HKEY_CLASSES_ROOT, keys);
}

}  // namespace

HRESULT WINAPI CExplorerCommand::UpdateRegistry(BOOL bRegister) {
  return UpdateClass(bRegister, CLSID_ExplorerCommand, CommandClassRegistryScript);
}

HRESULT WINAPI CExtensionsShellEx::UpdateRegistry(BOOL bRegister) {
  return UpdateClass(bRegister, CLSID_ExtensionsShellEx, ClassRegistryScript);
}

STDAPI DllRegisterServer() {
  const std::wstring clsid = ClassIdText(CLSID_ExtensionsShellEx);
  RegistryKey key;  // a 64-bit module runs on the NT family only: the approved list exists
  if (key.Open(HKEY_LOCAL_MACHINE, kApprovedKey, KEY_SET_VALUE) != ERROR_SUCCESS)
    return E_ACCESSDENIED;
  if (key.SetStringValue(clsid.c_str(), kApprovedName) != ERROR_SUCCESS) return E_ACCESSDENIED;
  for (const wchar_t* handler : kHandlerKeys) {
    key.Create(HKEY_CLASSES_ROOT, handler);  // may fail if the key can still be opened
    if (key.Open(HKEY_CLASSES_ROOT, handler, KEY_SET_VALUE) != ERROR_SUCCESS) return E_ACCESSDENIED;
    if (key.SetStringValue(nullptr, clsid.c_str()) != ERROR_SUCCESS) return E_ACCESSDENIED;
  }
  HRESULT hr = g_comModule.RegisterServer();
  key.Close();
  return hr;
}

STDAPI DllUnregisterServer() {
  const std::wstring clsid = ClassIdText(CLSID_ExtensionsShellEx);
  RegistryKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kApprovedKey, KEY_SET_VALUE) == ERROR_SUCCESS)
    key.DeleteValue(clsid.c_str());
  key.Close();
  for (const wchar_t* handler : kHandlerKeys) RegDeleteKeyW(HKEY_CLASSES_ROOT, handler);
  return g_comModule.UnregisterServer();
}
