// Does what Explorer does with a context-menu handler: a single-threaded apartment with the
// theme library loaded, the handler created through its registered class, and Initialize
// with a real shell data object for the selection (or the folder for a background).
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/class_id.h"
#include "common/owners.h"

class ShellHost {
 public:
  ShellHost();
  ~ShellHost();
  ShellHost(const ShellHost&) = delete;
  ShellHost& operator=(const ShellHost&) = delete;

  bool ready() const { return SUCCEEDED(com_); }

  // Creates the handler through the registered class, as the shell does for each menu.
  HRESULT CreateHandler(ComPtr<IShellExtInit>* handler,
                        REFCLSID clsid = CLSID_ExtensionsShellEx) const;

  // The shell's data object for items of one folder (as a multi-selection in one window).
  static HRESULT DataObjectFor(const std::vector<std::wstring>& paths, ComPtr<IDataObject>* out);
  // A data object holding a plain drop list, for paths the shell cannot name by an ID list
  // (a path longer than the platform's limit).
  static ComPtr<IDataObject> DropListDataObject(const std::vector<std::wstring>& paths);
  static PidlPtr FolderIdList(const std::wstring& path);

  static HRESULT InitializeBackground(IShellExtInit* handler, const std::wstring& folder);
  static HRESULT InitializeSelection(IShellExtInit* handler,
                                     const std::vector<std::wstring>& paths);

 private:
  HRESULT com_;
  HMODULE uxtheme_;
};
