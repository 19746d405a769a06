// "Python here" on Windows 11's first context menu: a command with one subcommand per item of
// the classic submenu (the same list), declared by the sparse package. Explorer hands it the
// selection as a shell item array; for a folder's background it may hand none, and the folder is
// then the one of the window it gives as the command's site.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "common/owners.h"
#include "framework/object.h"
#include "common/class_id.h"
#include "shellext/menu_commands.h"

// Where a console would start for `items`: exactly one item with a file-system path shorter than
// MAX_PATH, the item itself when it is a folder, else its folder, which a console can start in.
// With no item at all (a folder's background), the folder of `site_folder` (read from the site
// when the menu was built; empty when there was none).
bool StartFolderFor(IShellItemArray* items, const std::wstring& site_folder, std::wstring* folder);

// The file-system folder of the folder window the site belongs to; empty when there is none.
std::wstring SiteFolder(IUnknown* site);

class CExplorerCommand : public comfw::CComObjectRootEx<comfw::CComSingleThreadModel>,
                         public comfw::CComCoClass<CExplorerCommand, &CLSID_ExplorerCommand>,
                         public IExplorerCommand,
                         public IObjectWithSite {
 public:
  CExplorerCommand() = default;
  CExplorerCommand(const CExplorerCommand&) = delete;
  CExplorerCommand& operator=(const CExplorerCommand&) = delete;

  static HRESULT WINAPI UpdateRegistry(BOOL bRegister);  // with the module's registration

  COMFW_BEGIN_COM_MAP(CExplorerCommand)
  COMFW_INTERFACE_ENTRY_IID(IID_IExplorerCommand, IExplorerCommand)
  COMFW_INTERFACE_ENTRY_IID(IID_IObjectWithSite, IObjectWithSite)
  COMFW_END_COM_MAP()

  // IExplorerCommand
  STDMETHOD(GetTitle)(IShellItemArray* items, LPWSTR* name) override;
  STDMETHOD(GetIcon)(IShellItemArray* items, LPWSTR* icon) override;
  STDMETHOD(GetToolTip)(IShellItemArray* items, LPWSTR* tip) override;
  STDMETHOD(GetCanonicalName)(GUID* name) override;
  STDMETHOD(GetState)(IShellItemArray* items, BOOL slow_ok, EXPCMDSTATE* state) override;
  STDMETHOD(Invoke)(IShellItemArray* items, IBindCtx* context) override;
  STDMETHOD(GetFlags)(EXPCMDFLAGS* flags) override;
  STDMETHOD(EnumSubCommands)(IEnumExplorerCommand** commands) override;

  // IObjectWithSite
  STDMETHOD(SetSite)(IUnknown* site) override;
  STDMETHOD(GetSite)(REFIID riid, void** site) override;

 private:
  // Where a console would start for the selection Explorer last gave (GetState, GetTitle).
  void LearnStartFolder(IShellItemArray* items);
  // StartFolderFor for `items`; the answer for an array of one item is kept, with the array
  // (so that its address cannot name another array meanwhile): Explorer asks GetTitle and
  // GetState of the same one, and reading an item's path is the dearest call of the menu.
  bool StartFolderOf(IShellItemArray* items, std::wstring* folder);
  ComPtr<IUnknown> m_spSite;
  std::wstring m_strStartFolder;
  ComPtr<IShellItemArray> m_spAskedItems;
  bool m_bAskedUsable = false;
  std::wstring m_strAskedFolder;
};
