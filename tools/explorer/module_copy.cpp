#include "tools/explorer/module_copy.h"

#include <windows.h>

#include "tools/explorer/child_process.h"
#include "velmar_identity.h"

const wchar_t kModuleFileName[] = VELMAR_MODULE_FILE_NAME;

ModuleCopy::ModuleCopy(const std::wstring& folder_name, const std::wstring& built)
    : temp_(new TempDir(folder_name)), folder_(temp_->path()) {
  Copy(built);
}

ModuleCopy::ModuleCopy(Kept, const std::wstring& folder_name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  folder_ = std::wstring(temp) + L"velmar-" + folder_name;
  CreateDirectoryW(folder_.c_str(), nullptr);
  Copy(L"");
}

// The copy keeps the built file's write time, so an unchanged build keeps its stamp.
void ModuleCopy::Copy(const std::wstring& built) {
  std::wstring source = (built.empty() ? ProgramFolder() : built) + L"\\" + kModuleFileName;
  copied_ = CopyFileW(source.c_str(), dll_path().c_str(), FALSE) != 0;
}

ModuleCopy::~ModuleCopy() {
  if (registered_) Unregister();
}

bool ModuleCopy::WriteConfig(const std::string& xml) const {
  return WriteTextFile(config_path(), xml);
}

unsigned long ModuleCopy::Register() {
  DWORD code = RunAndWait(L"regsvr32.exe /s \"" + dll_path() + L"\"");
  registered_ = registered_ || code == 0;
  return code;
}

unsigned long ModuleCopy::Unregister() {
  DWORD code = RunAndWait(L"regsvr32.exe /u /s \"" + dll_path() + L"\"");
  if (code == 0) registered_ = false;
  return code;
}
