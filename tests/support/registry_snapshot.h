// Every key and value below some registry keys, for comparing before and after.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// Entries: "ROOT\path\" for a key, "ROOT\path\|name" → "type:data" for a value (an empty name
// is the default value). Text values read "sz:text", marked when their data does not end in
// exactly one terminating zero; other types are kept in hex.
using RegistrySnapshot = std::map<std::wstring, std::wstring>;

struct RegistryArea {
  HKEY root;
  std::wstring root_name;  // "HKCR", "HKLM"
  std::wstring subkey;
};

RegistrySnapshot TakeSnapshot(const std::vector<RegistryArea>& areas);

// Entries added or changed in `after`, and entries that `after` lost.
struct RegistryDiff {
  RegistrySnapshot added;
  RegistrySnapshot removed;
};
RegistryDiff Compare(const RegistrySnapshot& before, const RegistrySnapshot& after);

// The approved-extensions key under HKLM.
extern const wchar_t kApprovedKey[];

// Where registering the shell extension writes: the class, the handler keys under `*`,
// `Directory` and `txtfile`, and the approved-extensions key.
std::vector<RegistryArea> RegistrationAreas();

// Only the values of `entries`, without the keys.
RegistrySnapshot ValuesOf(const RegistrySnapshot& entries);
