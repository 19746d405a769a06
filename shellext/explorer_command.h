// "Python here" on Windows 11's first context menu: a command with one subcommand per item of
// the classic submenu (the same list), declared by the sparse package. Explorer hands it the
// selection as a shell item array (a folder's background as the folder).
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "framework/object.h"
#include "shellext/class_id.h"
#include "shellext/menu_commands.h"

// The start folder for a selection, by the classic menu's rules: exactly one item with a
// file-system path shorter than MAX_PATH; the item itself when it is a folder, else its folder.
bool SelectionStartFolder(IShellItemArray* items, std::wstring* folder);

class CExplorerCommand : public comfw::CComObjectRootEx<comfw::CComSingleThreadModel>,
                         public comfw::CComCoClass<CExplorerCommand, &CLSID_ExplorerCommand>,
                         public IExplorerCommand,
                         public IObjectWithSite {
 public:
  CExplorerCommand() = default;
  CExplorerCommand(const CExplorerCommand&) = delete;
  CExplorerCommand& operator=(const CExplorerCommand&) = delete;
  ~CExplorerCommand();

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
  IUnknown* m_pSite = nullptr;
};
