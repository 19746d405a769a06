// The registry entries that make Explorer load the handler.
#include <windows.h>
#include <objbase.h>

#include "framework/reg_key.h"
#include "server/module.h"
#include "shellext/explorer_command.h"
#include "shellext/extensions_shell_ex.h"

namespace {

const wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kApprovedName[] = L"VelmarShellExtensions";
const wchar_t* const kHandlerKeys[] = {
    L"*\\shellex\\ContextMenuHandlers\\VelmarShellExtensions",
    L"Directory\\shellex\\ContextMenuHandlers\\VelmarShellExtensions",
    L"Directory\\Background\\shellex\\ContextMenuHandlers\\VelmarShellExtensions",
};

std::wstring ClassIdText(REFCLSID clsid = CLSID_ExtensionsShellEx) {
  wchar_t text[64] = {};
  StringFromGUID2(clsid, text, 64);
  return text;
}

// The class key: its name, and the module as its in-process server.
comfw::RegistryKeySpec ClassKey(const std::wstring& clsid_text, const wchar_t* name,
                                const std::wstring& module_path) {
  using comfw::KeyRemoval;
  return {L"CLSID",
          KeyRemoval::NoRemove,
          {},
          {{clsid_text,
            KeyRemoval::ForceRemove,
            {{L"", name}},
            {{L"InprocServer32",
              KeyRemoval::Unmarked,
              {{L"", module_path}, {L"ThreadingModel", L"Apartment"}},
              {}}}}}};
}

// Writes or removes what `script` gives for this module's path.
HRESULT UpdateClass(BOOL bRegister, REFCLSID clsid,
                    std::vector<comfw::RegistryKeySpec> (*script)(const std::wstring&,
                                                                  const std::wstring&)) {
  std::wstring module_path = g_comModule.GetModulePath();
  if (module_path.empty()) return E_FAIL;
  std::vector<comfw::RegistryKeySpec> keys = script(ClassIdText(clsid), module_path);
  return bRegister ? comfw::RegisterKeys(HKEY_CLASSES_ROOT, keys)
                   : comfw::UnregisterKeys(HKEY_CLASSES_ROOT, keys);
}

}  // namespace

std::vector<comfw::RegistryKeySpec> ClassRegistryScript(const std::wstring& clsid_text,
                                                        const std::wstring& module_path) {
  using comfw::KeyRemoval;
  return {
      ClassKey(clsid_text, L"VelmarExtensionsShell Class", module_path),
      {L"txtfile",
       KeyRemoval::NoRemove,
       {},
       {{L"ShellEx",
         KeyRemoval::NoRemove,
         {},
         {{L"ContextMenuHandlers",
           KeyRemoval::NoRemove,
           {},
           {{L"VelmarExtensionsShell", KeyRemoval::ForceRemove, {{L"", clsid_text}}, {}}}}}}}},
  };
}

std::vector<comfw::RegistryKeySpec> CommandClassRegistryScript(const std::wstring& clsid_text,
                                                               const std::wstring& module_path) {
  return {ClassKey(clsid_text, L"Velmar Python here command", module_path)};
}

HRESULT WINAPI CExplorerCommand::UpdateRegistry(BOOL bRegister) {
  return UpdateClass(bRegister, CLSID_ExplorerCommand, CommandClassRegistryScript);
}

HRESULT WINAPI CExtensionsShellEx::UpdateRegistry(BOOL bRegister) {
  return UpdateClass(bRegister, CLSID_ExtensionsShellEx, ClassRegistryScript);
}

STDAPI DllRegisterServer() {
  const std::wstring clsid = ClassIdText();
  comfw::CRegKey key;  // a 64-bit module runs on the NT family only: the approved list exists
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
  const std::wstring clsid = ClassIdText();
  comfw::CRegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kApprovedKey, KEY_SET_VALUE) == ERROR_SUCCESS)
    key.DeleteValue(clsid.c_str());
  key.Close();
  for (const wchar_t* handler : kHandlerKeys) RegDeleteKeyW(HKEY_CLASSES_ROOT, handler);
  return g_comModule.UnregisterServer();
}
