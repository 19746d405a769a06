// What registration writes to the registry and what unregistration leaves behind, with the
// system's own regsvr32 and with the exports called directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/support/module_copy.h"
#include "tests/support/registry_snapshot.h"

namespace {

const wchar_t kClsid[] = L"{6B1E4C2A-93D7-4F05-8A2C-5D7E91B3C640}";

std::wstring Clsid() { return kClsid; }

// Keys that registration creates and unregistration keeps: the script's NoRemove keys and the
// folders above the handler keys.
std::set<std::wstring> KeptKeys() {
  return {L"HKCR\\txtfile\\",
          L"HKCR\\txtfile\\ShellEx\\",
          L"HKCR\\txtfile\\ShellEx\\ContextMenuHandlers\\",
          L"HKCR\\*\\",
          L"HKCR\\*\\shellex\\",
          L"HKCR\\*\\shellex\\ContextMenuHandlers\\",
          L"HKCR\\Directory\\",
          L"HKCR\\Directory\\shellex\\",
          L"HKCR\\Directory\\shellex\\ContextMenuHandlers\\",
          L"HKCR\\Directory\\Background\\",
          L"HKCR\\Directory\\Background\\shellex\\",
          L"HKCR\\Directory\\Background\\shellex\\ContextMenuHandlers\\"};
}

RegistrySnapshot ExpectedValues(const std::wstring& module_path) {
  const std::wstring clsid = Clsid();
  const std::wstring handler = L"\\shellex\\ContextMenuHandlers\\VelmarShellExtensions\\|";
  return {
      {std::wstring(L"HKLM\\") + kApprovedKey + L"\\|" + clsid, L"sz:VelmarShellExtensions"},
      {L"HKCR\\*" + handler, L"sz:" + clsid},
      {L"HKCR\\Directory" + handler, L"sz:" + clsid},
      {L"HKCR\\Directory\\Background" + handler, L"sz:" + clsid},
      {L"HKCR\\CLSID\\" + clsid + L"\\|", L"sz:VelmarExtensionsShell Class"},
      {L"HKCR\\CLSID\\" + clsid + L"\\InprocServer32\\|", L"sz:" + module_path},
      {L"HKCR\\CLSID\\" + clsid + L"\\InprocServer32\\|ThreadingModel", L"sz:Apartment"},
      {L"HKCR\\txtfile\\ShellEx\\ContextMenuHandlers\\VelmarExtensionsShell\\|", L"sz:" + clsid},
  };
}

typedef HRESULT(STDAPICALLTYPE* ExportFn)();

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(copy_.copied());
    copy_.Unregister();  // whatever an earlier test left
    before_ = TakeSnapshot(RegistrationAreas());
  }
  HRESULT CallExport(const char* name) {
    HMODULE module = LoadLibraryW(copy_.dll_path().c_str());
    if (!module) return E_FAIL;
    auto fn = reinterpret_cast<ExportFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    HRESULT hr = fn ? fn() : E_FAIL;
    FreeLibrary(module);
    return hr;
  }

  ModuleCopy copy_{L"registration-\u00e9"};
  RegistrySnapshot before_;
};

TEST_F(RegistrationTest, Regsvr32WritesExactlyTheRegistrationTable) {
  ASSERT_EQ(copy_.Register(), 0u);
  RegistryDiff diff = Compare(before_, TakeSnapshot(RegistrationAreas()));
  EXPECT_TRUE(diff.removed.empty());
  EXPECT_EQ(ValuesOf(diff.added), ExpectedValues(copy_.dll_path()));

  std::set<std::wstring> allowed = KeptKeys();
  const std::wstring clsid = Clsid();
  for (const wchar_t* key :
       {L"HKCR\\*\\shellex\\ContextMenuHandlers\\VelmarShellExtensions\\",
        L"HKCR\\Directory\\shellex\\ContextMenuHandlers\\VelmarShellExtensions\\",
        L"HKCR\\Directory\\Background\\shellex\\ContextMenuHandlers\\VelmarShellExtensions\\",
        L"HKCR\\txtfile\\ShellEx\\ContextMenuHandlers\\VelmarExtensionsShell\\"})
    allowed.insert(key);
  allowed.insert(L"HKCR\\CLSID\\" + clsid + L"\\");
  allowed.insert(L"HKCR\\CLSID\\" + clsid + L"\\InprocServer32\\");
  for (const auto& entry : diff.added) {
    if (entry.first.find(L"\\|") == std::wstring::npos) {
      EXPECT_TRUE(allowed.count(entry.first)) << "unexpected key";
    }
  }
}

TEST_F(RegistrationTest, UnregistrationLeavesOnlyTheKeptKeys) {
  ASSERT_EQ(copy_.Register(), 0u);
  ASSERT_EQ(copy_.Unregister(), 0u);
  RegistryDiff diff = Compare(before_, TakeSnapshot(RegistrationAreas()));
  EXPECT_TRUE(diff.removed.empty());
  std::set<std::wstring> kept = KeptKeys();
  for (const auto& entry : diff.added) {
    EXPECT_TRUE(kept.count(entry.first)) << "left behind";
  }
  // The approved-extensions key itself stays.
  HKEY approved = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_READ, &approved), ERROR_SUCCESS);
  RegCloseKey(approved);
}

TEST_F(RegistrationTest, RegisteringAgainAndUnregisteringTwiceSucceed) {
  EXPECT_EQ(CallExport("DllRegisterServer"), S_OK);
  EXPECT_EQ(CallExport("DllRegisterServer"), S_OK);
  EXPECT_EQ(ValuesOf(Compare(before_, TakeSnapshot(RegistrationAreas())).added),
            ExpectedValues(copy_.dll_path()));
  EXPECT_EQ(CallExport("DllUnregisterServer"), S_OK);
  EXPECT_EQ(CallExport("DllUnregisterServer"), S_OK);
  EXPECT_EQ(copy_.Unregister(), 0u);
  EXPECT_TRUE(ValuesOf(Compare(before_, TakeSnapshot(RegistrationAreas())).added).empty());
}

// Without the approved-extensions key (no write access to the machine's settings, as for a
// user without administrator rights) registration is refused before anything is written.
TEST_F(RegistrationTest, MissingApprovedKeyDeniesAndWritesNothing) {
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kApprovedKey), ERROR_SUCCESS);
  RegistrySnapshot without = TakeSnapshot(RegistrationAreas());
  HRESULT hr = CallExport("DllRegisterServer");
  RegistrySnapshot after = TakeSnapshot(RegistrationAreas());
  HKEY restored = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                            &restored, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(restored);

  EXPECT_EQ(hr, E_ACCESSDENIED);
  RegistryDiff diff = Compare(without, after);
  EXPECT_TRUE(diff.added.empty());
  EXPECT_TRUE(diff.removed.empty());
}

}  // namespace
