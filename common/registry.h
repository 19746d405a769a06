// Registry writing shared by the module's registration and the companion's registration for one
// user: a key that every open or create replaces (ATL's CRegKey, in part), and trees of keys
// written and removed with the usual removal marks: a NoRemove key is never deleted on
// unregistration, a ForceRemove key is deleted with everything below it before it is written and
// on unregistration, an unmarked key is deleted on unregistration once nothing is left below it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/owners.h"

class RegistryKey {
 public:
  LONG Create(HKEY parent, const wchar_t* name, REGSAM access = KEY_READ | KEY_WRITE);
  LONG Open(HKEY parent, const wchar_t* name, REGSAM access = KEY_READ | KEY_WRITE);
  void Close() { key_.reset(); }
  // REG_SZ value; a null name is the key's default value.
  LONG SetStringValue(const wchar_t* name, const wchar_t* value);
  LONG DeleteValue(const wchar_t* name) { return RegDeleteValueW(key_.get(), name); }
  operator HKEY() const { return key_.get(); }

 private:
  UniqueKey key_;
};

// Deletes `name` under `parent` with everything below it.
LONG DeleteKeyTree(HKEY parent, const wchar_t* name);

enum class KeyRemoval { Unmarked, NoRemove, ForceRemove };

// A REG_SZ value; an empty name is the key's default value.
struct RegistryValueSpec {
  std::wstring name;
  std::wstring data;
};

struct RegistryKeySpec {
  std::wstring name;
  KeyRemoval removal;
  std::vector<RegistryValueSpec> values;
  std::vector<RegistryKeySpec> subkeys;
};

// Registration stops at the first failure and returns it as an HRESULT. Unregistration skips
// keys that are not there and succeeds unless a deletion is refused.
HRESULT RegisterKeys(HKEY root, const std::vector<RegistryKeySpec>& keys);
HRESULT UnregisterKeys(HKEY root, const std::vector<RegistryKeySpec>& keys);
