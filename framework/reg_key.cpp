#include "framework/reg_key.h"

namespace comfw {

LONG CRegKey::Create(HKEY parent, const wchar_t* name, REGSAM access) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                &key, nullptr);
  if (result == ERROR_SUCCESS) {
    Close();
    m_hKey = key;
  }
  return result;
}

LONG CRegKey::Open(HKEY parent, const wchar_t* name, REGSAM access) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(parent, name, 0, access, &key);
  if (result == ERROR_SUCCESS) {
    Close();
    m_hKey = key;
  }
  return result;
}

LONG CRegKey::Close() {
  LONG result = ERROR_SUCCESS;
  if (m_hKey) {
    result = RegCloseKey(m_hKey);
    m_hKey = nullptr;
  }
  return result;
}

LONG CRegKey::SetStringValue(const wchar_t* name, const wchar_t* value) {
  DWORD bytes = static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t));
  return RegSetValueExW(m_hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

LONG CRegKey::DeleteValue(const wchar_t* name) { return RegDeleteValueW(m_hKey, name); }

LONG DeleteKeyTree(HKEY parent, const wchar_t* name) {
  CRegKey key;
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

}  // namespace comfw
