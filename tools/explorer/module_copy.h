// A copy of the built DLL in a folder of its own, as an installation would place it, with the
// configuration file beside it. Registered with the system's regsvr32 on request, and
// unregistered and removed at the end (a kept copy stays, at the same path from run to run).
#pragma once

#include <memory>
#include <string>

#include "tools/explorer/temp_dir.h"

extern const wchar_t kModuleFileName[];  // the module's file name, from the build

class ModuleCopy {
 public:
  // `folder_name` becomes part of the folder's name (it may hold any characters); `built` is
  // the folder of the build the module comes from (the running program's own by default).
  explicit ModuleCopy(const std::wstring& folder_name = L"module", const std::wstring& built = L"");
  // At %TEMP%\velmar-`folder_name`, kept afterwards, as an installed module stays in place.
  struct Kept {};
  ModuleCopy(Kept, const std::wstring& folder_name);
  ~ModuleCopy();
  ModuleCopy(const ModuleCopy&) = delete;
  ModuleCopy& operator=(const ModuleCopy&) = delete;

  const std::wstring& folder() const { return folder_; }
  std::wstring dll_path() const { return folder_ + L"\\" + kModuleFileName; }
  std::wstring config_path() const { return folder_ + L"\\config.cfg"; }
  bool copied() const { return copied_; }

  bool WriteConfig(const std::string& xml) const;
  // regsvr32 /s (or /u /s): its exit code, 0 on success.
  unsigned long Register();
  unsigned long Unregister();

 private:
  void Copy(const std::wstring& built);

  std::unique_ptr<TempDir> temp_;  // none for a kept copy
  std::wstring folder_;
  bool copied_ = false;
  bool registered_ = false;
};
