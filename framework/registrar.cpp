#include "framework/registrar.h"

#include "framework/reg_key.h"

namespace comfw {

HRESULT RegisterKeys(HKEY root, const std::vector<RegistryKeySpec>& keys) {
  for (const RegistryKeySpec& wanted : keys) {
    if (wanted.removal == KeyRemoval::ForceRemove) DeleteKeyTree(root, wanted.name.c_str());
    CRegKey key;
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
    CRegKey key;
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

}  // namespace comfw
