#include "common/registry.h"

LONG RegistryKey::Create(HKEY parent, const wchar_t* name, REGSAM access) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                &key, nullptr);
  if (result == ERROR_SUCCESS) key_.reset(key);
  return result;
}

LONG RegistryKey::Open(HKEY parent, const wchar_t* name, REGSAM access) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(parent, name, 0, access, &key);
  if (result == ERROR_SUCCESS) key_.reset(key);
  return result;
}

LONG RegistryKey::SetStringValue(const wchar_t* name, const wchar_t* value) {
  DWORD bytes = static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t));
  return RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

LONG DeleteKeyTree(HKEY parent, const wchar_t* name) {
  RegistryKey key;
  LONG result = key.Open(parent, name, KEY_READ | KEY_WRITE);
  if (result != ERROR_SUCCESS) return result;
  // Delete the first subkey until there is none; enumeration restarts after each deletion.
  wchar_t sub[256];
  for (;;) {
    DWORD length = 256;
    result = RegEnumKeyExW(key, 0, sub, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) return result;
    result = DeleteKeyTree(key, sub);
    if (result != ERROR_SUCCESS) return result;
  }
  key.Close();
  return RegDeleteKeyW(parent, name);
}

HRESULT RegisterKeys(HKEY root, const std::vector<RegistryKeySpec>& keys) {
  for (const RegistryKeySpec& wanted : keys) {
    if (wanted.removal == KeyRemoval::ForceRemove) DeleteKeyTree(root, wanted.name.c_str());
    RegistryKey key;
    LONG result = key.Create(root, wanted.name.c_str());
    if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
    for (const RegistryValueSpec& value : wanted.values) {
      result =
          key.SetStringValue(value.name.empty() ? nullptr : value.name.c_str(), value.data.c_str());
      if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
    }
    HRESULT hr = RegisterKeys(key, wanted.subkeys);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterKeys(HKEY root, const std::vector<RegistryKeySpec>& keys) {
  HRESULT hr = S_OK;
  for (const RegistryKeySpec& wanted : keys) {
    if (wanted.removal == KeyRemoval::ForceRemove) {
      LONG result = DeleteKeyTree(root, wanted.name.c_str());
      if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        hr = HRESULT_FROM_WIN32(result);
        break;
      }
      continue;
    }
    RegistryKey key;
    if (key.Open(root, wanted.name.c_str()) != ERROR_SUCCESS) continue;
    hr = UnregisterKeys(key, wanted.subkeys);
    if (FAILED(hr)) break;
    if (wanted.removal == KeyRemoval::NoRemove) continue;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0) {
      key.Close();
      RegDeleteKeyW(root, wanted.name.c_str());
    }
  }
  return hr;
}
