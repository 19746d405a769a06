#include "common/registry_entries.h"

#include <objbase.h>

#include "common/registry.h"
#include "common/class_id.h"

namespace {

const wchar_t kUserClasses[] = L"Software\\Classes";

// The class key: its name, and the module as its in-process server.
RegistryKeySpec ClassKey(const std::wstring& clsid_text, const wchar_t* name,
                         const std::wstring& module_path) {
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

// Both classes' keys for the module at `module_path`.
std::vector<RegistryKeySpec> ClassKeys(const std::wstring& module_path) {
  std::vector<RegistryKeySpec> keys =
      ClassRegistryScript(ClassIdText(CLSID_ExtensionsShellEx), module_path);
  for (RegistryKeySpec& key :
       CommandClassRegistryScript(ClassIdText(CLSID_ExplorerCommand), module_path))
    keys.push_back(std::move(key));
  return keys;
}

HRESULT FromStatus(LONG status) {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace

const wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kApprovedName[] = L"VelmarShellExtensions";
const wchar_t* const kHandlerKeys[3] = {
    L"*\\shellex\\ContextMenuHandlers\\VelmarShellExtensions",
    L"Directory\\shellex\\ContextMenuHandlers\\VelmarShellExtensions",
    L"Directory\\Background\\shellex\\ContextMenuHandlers\\VelmarShellExtensions",
};

std::wstring ClassIdText(REFCLSID clsid) {
  wchar_t text[64] = {};
  StringFromGUID2(clsid, text, 64);
  return text;
}

std::vector<RegistryKeySpec> ClassRegistryScript(const std::wstring& clsid_text,
                                                 const std::wstring& module_path) {
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

std::vector<RegistryKeySpec> CommandClassRegistryScript(const std::wstring& clsid_text,
                                                        const std::wstring& module_path) {
  return {ClassKey(clsid_text, L"Velmar Python here command", module_path)};
}

HRESULT RegisterForCurrentUser(const std::wstring& module_path) {
  const std::wstring clsid = ClassIdText(CLSID_ExtensionsShellEx);
  RegistryKey classes, key;
  LONG status = classes.Create(HKEY_CURRENT_USER, kUserClasses, KEY_ALL_ACCESS);
  if (status == ERROR_SUCCESS) status = key.Create(HKEY_CURRENT_USER, kApprovedKey);
  if (status == ERROR_SUCCESS) status = key.SetStringValue(clsid.c_str(), kApprovedName);
  for (const wchar_t* handler : kHandlerKeys) {
    if (status == ERROR_SUCCESS) status = key.Create(classes, handler);
    if (status == ERROR_SUCCESS) status = key.SetStringValue(nullptr, clsid.c_str());
  }
  if (status != ERROR_SUCCESS) return FromStatus(status);
  return RegisterKeys(classes, ClassKeys(module_path));
}

HRESULT UnregisterForCurrentUser() {
  RegistryKey classes, key;
  if (key.Open(HKEY_CURRENT_USER, kApprovedKey, KEY_SET_VALUE) == ERROR_SUCCESS)
    key.DeleteValue(ClassIdText(CLSID_ExtensionsShellEx).c_str());
  if (classes.Open(HKEY_CURRENT_USER, kUserClasses, KEY_ALL_ACCESS) != ERROR_SUCCESS) return S_OK;
  for (const wchar_t* handler : kHandlerKeys) RegDeleteKeyW(classes, handler);
  return UnregisterKeys(classes, ClassKeys(L""));
}

std::wstring ModuleRegisteredForCurrentUser() {
  const std::wstring server = std::wstring(kUserClasses) + L"\\CLSID\\" +
                              ClassIdText(CLSID_ExtensionsShellEx) + L"\\InprocServer32";
  std::wstring path(32768, L'\0');
  DWORD bytes = static_cast<DWORD>((path.size() - 1) * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, &path[0],
                   &bytes) != ERROR_SUCCESS)
    return L"";
  path.resize(wcslen(path.c_str()));
  return path;
}
