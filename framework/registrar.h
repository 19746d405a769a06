// Writes and removes a tree of registry keys with the usual removal marks: a NoRemove key is
// never deleted on unregistration, a ForceRemove key is deleted with everything below it
// before it is written and on unregistration, an unmarked key is deleted on unregistration
// once nothing is left below it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace comfw {

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

}  // namespace comfw
