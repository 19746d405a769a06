#include "companion/user_registration.h"

#include <windows.h>

#include "command/command_utils.h"
#include "companion/installed_settings.h"
#include "companion/sparse_package.h"
#include "common/paths.h"
#include "common/registry_entries.h"
#include "velmar_identity.h"

namespace {

const wchar_t kModuleName[] = VELMAR_MODULE_FILE_NAME;

// Whether two paths name the same file: by their final paths when both exist, else as written.
bool SameFile(const std::wstring& a, const std::wstring& b) {
  std::wstring final_a = CommandUtils::final_path(a), final_b = CommandUtils::final_path(b);
  const std::wstring& x = final_a.empty() || final_b.empty() ? a : final_a;
  const std::wstring& y = final_a.empty() || final_b.empty() ? b : final_b;
  return SamePath(x, y);
}

std::wstring Code(HRESULT hr) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

int RegisterCopyForUser(const std::wstring& folder, std::vector<std::wstring>* said) {
  const std::wstring module = folder + L"\\" + kModuleName;
  if (!file_exists(module)) {
    said->push_back(L"no " + std::wstring(kModuleName) + L" beside Velmar.exe in " + folder);
    return 1;
  }
  std::wstring reason;
  if (!PlaceDefaultSettings(folder, Sources::FromSystem(), &reason)) {
    said->push_back(reason);
    return 1;
  }
  HRESULT hr = RegisterForCurrentUser(module);
  if (FAILED(hr)) {
    said->push_back(L"cannot register " + module + L" for the current user: " + Code(hr));
    return 1;
  }
  said->push_back(L"registered for the current user: " + module);
  const std::wstring package = folder + L"\\Velmar.msix";
  if (file_exists(package) && !RegisterSparsePackage(package, folder, &reason))
    said->push_back(L"Windows 11's menu is not registered: " + reason);
  return 0;
}

int UnregisterCopyForUser(const std::wstring& folder, std::vector<std::wstring>* said) {
  const std::wstring module = folder + L"\\" + kModuleName;
  const std::wstring registered = ModuleRegisteredForCurrentUser();
  if (registered.empty()) {
    said->push_back(L"nothing is registered for the current user");
    return 0;
  }
  if (!SameFile(registered, module)) {
    said->push_back(L"the current user's registration names another copy, left as it is: " +
                    registered);
    return 0;
  }
  HRESULT hr = UnregisterForCurrentUser();
  if (FAILED(hr)) {
    said->push_back(L"cannot remove the current user's registration: " + Code(hr));
    return 1;
  }
  said->push_back(L"removed the current user's registration of " + module);
  std::wstring reason;
  if (!UnregisterSparsePackage(false, &reason))
    said->push_back(L"Windows 11's menu is not removed: " + reason);
  return 0;
}
