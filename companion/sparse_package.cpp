#include "companion/sparse_package.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "command/command_utils.h"
#include "common/text_encoding.h"
#include "velmar_identity.h"

namespace {

typedef HRESULT(WINAPI* CreateStringFn)(const wchar_t*, UINT32, void**);
typedef HRESULT(WINAPI* DeleteStringFn)(void*);
typedef HRESULT(WINAPI* GetFactoryFn)(void*, REFIID, void**);

const wchar_t kPackageManagerClass[] = L"Windows.Management.Deployment.PackageManager";
constexpr DWORD kPowerShellTimeoutMs = 120000;

// Whether Windows offers its package manager (Windows 10 and later do; Wine does not).
bool HasPackageManager(std::wstring* reason) {
  HMODULE combase = LoadLibraryW(L"combase.dll");
  auto create = combase ? reinterpret_cast<CreateStringFn>(reinterpret_cast<void*>(
                              GetProcAddress(combase, "WindowsCreateString")))
                        : nullptr;
  auto remove = combase ? reinterpret_cast<DeleteStringFn>(reinterpret_cast<void*>(
                              GetProcAddress(combase, "WindowsDeleteString")))
                        : nullptr;
  auto factory_of = combase ? reinterpret_cast<GetFactoryFn>(reinterpret_cast<void*>(
                                  GetProcAddress(combase, "RoGetActivationFactory")))
                            : nullptr;
  HRESULT hr = REGDB_E_CLASSNOTREG;
  void* name = nullptr;
  if (create && remove && factory_of &&
      SUCCEEDED(create(kPackageManagerClass, lstrlenW(kPackageManagerClass), &name))) {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IUnknown* factory = nullptr;
    hr = factory_of(name, IID_IUnknown, reinterpret_cast<void**>(&factory));
    if (factory) factory->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    remove(name);
  }
  if (combase) FreeLibrary(combase);
  if (SUCCEEDED(hr)) return true;
  wchar_t code[16];
  swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  *reason = L"this system has no package manager for Windows 11's menu (" +
            std::wstring(kPackageManagerClass) + L": " + code + L")";
  return false;
}

// A PowerShell single-quoted string. PowerShell ends one at ' and at the typographic single
// quotes U+2018 to U+201B alike, and reads any of them doubled as that character.
std::wstring Quoted(const std::wstring& text) {
  std::wstring quoted = L"'";
  for (wchar_t c : text) {
    if (c == L'\'' || (c >= 0x2018 && c <= 0x201B)) quoted += c;
    quoted += c;
  }
  return quoted + L"'";
}

// Runs one PowerShell command (Windows PowerShell, by its full path); its last output line is the
// reason when it fails.
bool RunPowerShell(const std::wstring& command, std::wstring* reason) {
  wchar_t system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    *reason = L"cannot find the system folder";
    return false;
  }
  const std::wstring program = std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
  EnvironmentMap env;
  CommandUtils::get_environment(env);
  std::string output;
  DWORD code = 1;
  if (!CommandUtils::run_process(
          L"\"" + program + L"\" -NoProfile -NonInteractive -Command \"" + command + L"\"", env,
          system, &output, code, kPowerShellTimeoutMs)) {  // not in a folder Velmar was opened in
    *reason = L"cannot run " + program;
    return false;
  }
  if (code == 0) return true;
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  *reason = L"the package manager refused (" + std::to_wstring(code) + L"): " +
            to_wide(output.substr(output.find_last_of('\n') + 1), CP_OEMCP);
  return false;
}

}  // namespace

bool RegisterSparsePackage(const std::wstring& package, const std::wstring& external_location,
                           std::wstring* reason) {
  if (!HasPackageManager(reason)) return false;
  if (GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *reason = L"no package at " + package;
    return false;
  }
  return RunPowerShell(L"Add-AppxPackage -Path " + Quoted(package) + L" -ExternalLocation " +
                           Quoted(external_location),
                       reason);
}

bool UnregisterSparsePackage(bool all_users, std::wstring* reason) {
  if (!HasPackageManager(reason)) return false;
  const std::wstring every = all_users ? L" -AllUsers" : L"";
  return RunPowerShell(L"Get-AppxPackage" + every + L" -Name " + Quoted(VELMAR_PACKAGE_NAME) +
                           L" | Remove-AppxPackage" + every,
                       reason);
}
