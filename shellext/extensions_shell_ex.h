// The handler object the shell creates for every context menu on a file, a folder or a
// folder's background.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <map>
#include <string>

#include "config/configure.h"
#include "framework/object.h"
#include "shellext/class_id.h"

class CExtensionsShellEx : public comfw::CComObjectRootEx<comfw::CComSingleThreadModel>,
                           public comfw::CComCoClass<CExtensionsShellEx, &CLSID_ExtensionsShellEx>,
                           public IShellExtInit,
                           public IContextMenu3 {
 public:
  CExtensionsShellEx();
  CExtensionsShellEx(const CExtensionsShellEx&) = delete;
  CExtensionsShellEx& operator=(const CExtensionsShellEx&) = delete;

  // Writes or removes the class registration (defined with the module's registration).
  static HRESULT WINAPI UpdateRegistry(BOOL bRegister);

  COMFW_BEGIN_COM_MAP(CExtensionsShellEx)
  COMFW_INTERFACE_ENTRY_IID(IID_IShellExtInit, IShellExtInit)
  COMFW_INTERFACE_ENTRY_IID(IID_IContextMenu, IContextMenu3)
  COMFW_INTERFACE_ENTRY_IID(IID_IContextMenu2, IContextMenu3)
  COMFW_INTERFACE_ENTRY_IID(IID_IContextMenu3, IContextMenu3)
  COMFW_END_COM_MAP()

  // IShellExtInit
  STDMETHOD(Initialize)
  (PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pDataObj, HKEY hkeyProgID) override;

  // IContextMenu, IContextMenu2, IContextMenu3
  STDMETHOD(QueryContextMenu)
  (HMENU hmenu, UINT menuIndex, UINT uidFirstCmd, UINT uidLastCmd, UINT uFlags) override;
  STDMETHOD(InvokeCommand)(CMINVOKECOMMANDINFO* pCmdInfo) override;
  STDMETHOD(GetCommandString)
  (UINT_PTR idCmd, UINT uFlags, UINT* pwReserved, LPSTR pszName, UINT cchMax) override;
  STDMETHOD(HandleMenuMsg)(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
  STDMETHOD(HandleMenuMsg2)(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* plResult) override;

  // The module's folder, ending in a backslash; computed once per object.
  std::wstring GetModuleFolder();

  static bool IsDirectory(std::wstring path);
  static bool FileExists(const wchar_t* path);

 private:
  // The folder a console starts in: the selected item itself when it is a directory, else
  // the folder that holds it.
  void ApplyStartFolderRule();
  void LogSelection();

  wchar_t m_szFile[MAX_PATH];
  wchar_t m_szFilePath[MAX_PATH];
  wchar_t m_szModuleFileName[MAX_PATH];
  std::wstring m_strModuleFolder;
  std::wstring m_strCompanionPath;
  std::map<uint32_t, std::wstring> m_mapCommands;
  Configure configure;
};
