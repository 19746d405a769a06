// The handler object the shell creates for every context menu on a file, a folder or a
// folder's background.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <uxtheme.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "config/configure.h"
#include "framework/object.h"
#include "common/class_id.h"
#include "common/owners.h"
#include "common/paths.h"
#include "shellext/menu_commands.h"

// Windows 6.0 or later: menu items carry 32-bit bitmaps; before, the menu owner-draws them.
bool IsVersion6OrLater();

class CExtensionsShellEx : public comfw::CComObjectRootEx<comfw::CComSingleThreadModel>,
                           public comfw::CComCoClass<CExtensionsShellEx, &CLSID_ExtensionsShellEx>,
                           public IShellExtInit,
                           public IContextMenu3 {
 public:
  CExtensionsShellEx();
  ~CExtensionsShellEx();
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

  // The console prompt: "name^|version bits", or "version bits" outside a virtual environment;
  // every part escaped for cmd and PROMPT.
  static std::wstring ComposePrompt(const std::wstring& venv_name, const std::wstring& version,
                                    const std::wstring& bits);

  // Menu bitmaps from the process's icon store, looked up once per object, which holds a
  // reference to each until it goes: its menu may show them until then.
  HBITMAP GetResourceIconBitmap(UINT id);
  HBITMAP GetFileIconBitmap(const std::wstring& path, int index);

 private:
  typedef HRESULT(WINAPI* GetBufferedPaintBitsFn)(HPAINTBUFFER, RGBQUAD**, int*);
  typedef HPAINTBUFFER(WINAPI* BeginBufferedPaintFn)(HDC, const RECT*, BP_BUFFERFORMAT,
                                                     BP_PAINTPARAMS*, HDC*);
  typedef HRESULT(WINAPI* EndBufferedPaintFn)(HPAINTBUFFER, BOOL);

  bool MenuAlreadyExtended(HMENU hmenu) const;
  UINT AddFileIconItem(HMENU menu, std::wstring label, std::wstring icon_path, int icon_index,
                       UINT first_id, UINT offset, UINT position);
  UINT AddResourceIconItem(HMENU menu, std::wstring label, UINT icon_id, UINT first_id, UINT offset,
                           UINT position);

  void ResolveThemeEntryPoints();
  // The bitmap an earlier process saved for this version (`stamp`) of `source` at the menu's
  // size, else the one `make` draws, saved for the next; never saved without a stamp.
  HBITMAP SavedOrMade(const std::wstring& source, const FileStamp* stamp,
                      const std::function<HBITMAP()>& make);
  HBITMAP IconToMenuBitmap(HICON icon);
  static HRESULT CreateArgbDib(HDC dc, SIZE size, void** bits, HBITMAP* bitmap);
  HRESULT CompleteAlpha(HPAINTBUFFER buffer, HDC dc, HICON icon, SIZE size);
  static bool AnyAlphaSet(const uint32_t* pixels, SIZE size, int row_width);
  static HRESULT AlphaFromMask(HDC dc, uint32_t* pixels, HBITMAP mask, SIZE size, int row_width);

  // The folder a console starts in: the selected item itself when it is a directory, else
  // the folder that holds it.
  void ApplyStartFolderRule();
  void LogSelection();

  wchar_t m_szFile[MAX_PATH];
  wchar_t m_szFilePath[MAX_PATH];
  wchar_t m_szModuleFileName[MAX_PATH];
  std::wstring m_strModuleFolder;
  std::wstring m_strCompanionPath;
  std::map<UINT_PTR, uint32_t> m_mapCmdIcons;
  std::map<uint32_t, HBITMAP> m_mapIconBitmaps;
  std::map<uint32_t, MenuCommand> m_mapCommands;
  std::map<std::wstring, HBITMAP> m_mapFileIconBitmaps;
  Configure configure;
  GetBufferedPaintBitsFn m_pfnGetBufferedPaintBits = nullptr;
  BeginBufferedPaintFn m_pfnBeginBufferedPaint = nullptr;
  EndBufferedPaintFn m_pfnEndBufferedPaint = nullptr;
};
