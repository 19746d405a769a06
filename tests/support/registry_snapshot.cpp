#include "tests/support/registry_snapshot.h"

#include <cwchar>

#include "common/owners.h"

namespace {

// A key opened for reading; none when it cannot be.
UniqueKey OpenForReading(HKEY parent, const std::wstring& name) {
  HKEY key = nullptr;
  return UniqueKey(
      RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr);
}

std::wstring Describe(DWORD type, const std::vector<BYTE>& data, DWORD size) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    // Written right, the data holds the text and one terminating zero.
    bool terminated = !text.empty() && text.back() == L'\0';
    if (terminated) text.pop_back();
    return (type == REG_SZ ? L"sz:" : L"expand:") + text + (terminated ? L"" : L" (unterminated)");
  }
  std::wstring hex = L"type" + std::to_wstring(type) + L":";
  wchar_t pair[4];
  for (DWORD i = 0; i < size; ++i) {
    swprintf(pair, 4, L"%02x", data[i]);
    hex += pair;
  }
  return hex;
}

// Room for the largest value name and data, made once per snapshot: under the suite's heap
// checking every allocation and release is filled, and HKCR\CLSID has thousands of keys.
struct Buffers {
  std::vector<wchar_t> value_name = std::vector<wchar_t>(16384);
  std::vector<BYTE> data = std::vector<BYTE>(65536);
};

void Walk(HKEY parent, const std::wstring& name, const std::wstring& label, Buffers& buffers,
          RegistrySnapshot* out) {
  const UniqueKey key = OpenForReading(parent, name);
  if (!key.get()) return;
  (*out)[label + L"\\"] = L"";
  std::vector<wchar_t>& value_name = buffers.value_name;
  std::vector<BYTE>& data = buffers.data;
  for (DWORD i = 0;; ++i) {
    DWORD name_length = static_cast<DWORD>(value_name.size());
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG result = RegEnumValueW(key.get(), i, value_name.data(), &name_length, nullptr, &type,
                                data.data(), &size);
    if (result != ERROR_SUCCESS) break;
    (*out)[label + L"\\|" + std::wstring(value_name.data(), name_length)] =
        Describe(type, data, size);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), i, child, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    children.emplace_back(child, length);
  }
  for (const std::wstring& child : children)
    Walk(key.get(), child, label + L"\\" + child, buffers, out);
}

}  // namespace

RegistrySnapshot TakeSnapshot(const std::vector<RegistryArea>& areas) {
  RegistrySnapshot snapshot;
  Buffers buffers;
  for (const RegistryArea& area : areas)
    Walk(area.root, area.subkey, area.root_name + L"\\" + area.subkey, buffers, &snapshot);
  return snapshot;
}

RegistryDiff Compare(const RegistrySnapshot& before, const RegistrySnapshot& after) {
  RegistryDiff diff;
  for (const auto& entry : after) {
    auto it = before.find(entry.first);
    if (it == before.end() || it->second != entry.second) diff.added.insert(entry);
  }
  for (const auto& entry : before)
    if (!after.count(entry.first)) diff.removed.insert(entry);
  return diff;
}

const wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

std::vector<RegistryArea> RegistrationAreas() {
  return {{HKEY_CLASSES_ROOT, L"HKCR", L"CLSID"},
          {HKEY_CLASSES_ROOT, L"HKCR", L"*"},
          {HKEY_CLASSES_ROOT, L"HKCR", L"Directory"},
          {HKEY_CLASSES_ROOT, L"HKCR", L"txtfile"},
          {HKEY_LOCAL_MACHINE, L"HKLM", kApprovedKey},
          // the same, for the current user alone
          {HKEY_CURRENT_USER, L"HKCU", L"Software\\Classes\\CLSID"},
          {HKEY_CURRENT_USER, L"HKCU", L"Software\\Classes\\*"},
          {HKEY_CURRENT_USER, L"HKCU", L"Software\\Classes\\Directory"},
          {HKEY_CURRENT_USER, L"HKCU", L"Software\\Classes\\txtfile"},
          {HKEY_CURRENT_USER, L"HKCU", kApprovedKey}};
}

RegistrySnapshot ValuesOf(const RegistrySnapshot& entries) {
  RegistrySnapshot values;
  for (const auto& entry : entries)
    if (entry.first.find(L"\\|") != std::wstring::npos) values.insert(entry);
  return values;
}
