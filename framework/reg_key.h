// Owner of one open registry key: every open or create closes the key held before.
#pragma once

#include <windows.h>

namespace comfw {

class CRegKey {
 public:
  CRegKey() = default;
  ~CRegKey() { Close(); }
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;

  LONG Create(HKEY parent, const wchar_t* name, REGSAM access = KEY_READ | KEY_WRITE);
  LONG Open(HKEY parent, const wchar_t* name, REGSAM access = KEY_READ | KEY_WRITE);
  LONG Close();

  // REG_SZ value; a null name is the key's default value.
  LONG SetStringValue(const wchar_t* name, const wchar_t* value);
  LONG DeleteValue(const wchar_t* name);

  operator HKEY() const { return m_hKey; }

  HKEY m_hKey = nullptr;
};

// Deletes `name` under `parent` with everything below it.
LONG DeleteKeyTree(HKEY parent, const wchar_t* name);

}  // namespace comfw
