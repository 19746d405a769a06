#include "shellext/explorer_command.h"

#include <shlwapi.h>

#include "command/command_utils.h"
#include "common/owners.h"
#include "common/fault_point.h"
#include "framework/module.h"
#include "common/no_throw.h"
#include "log/log.h"
#include "common/resource_ids.h"
#include "shellext/extensions_shell_ex.h"
#include "shellext/item_paths.h"

namespace {

// Empty, as for the classic menu, when the module's path does not fit MAX_PATH.
std::wstring ModuleFolder() {
  std::wstring path = comfw::g_module->GetModulePath();
  return path.size() < MAX_PATH ? path.substr(0, path.find_last_of(L'\\') + 1) : L"";
}

// The module's own icon, as a resource reference Explorer loads itself.
std::wstring ModuleIconReference() {
  return comfw::g_module->GetModulePath() + L",-" + std::to_wstring(IDI_MODULE_ICON);
}

HRESULT Duplicate(const std::wstring& text, LPWSTR* out) {
  if (!out) return E_POINTER;
  return SHStrDupW(text.c_str(), out);
}

// One item of the submenu.
class CExplorerSubCommand : public comfw::CComObjectRootEx<comfw::CComSingleThreadModel>,
                            public IExplorerCommand {
 public:
  COMFW_BEGIN_COM_MAP(CExplorerSubCommand)
  COMFW_INTERFACE_ENTRY_IID(IID_IExplorerCommand, IExplorerCommand)
  COMFW_END_COM_MAP()

  // `site_folder`: the folder window's folder when the menu was built, for a background.
  void Set(const MenuCommand& command, const std::string& command_line,
           const std::wstring& site_folder) {
    command_ = command;
    command_line_ = command_line;
    site_folder_ = site_folder;
  }

  STDMETHOD(GetTitle)(IShellItemArray*, LPWSTR* name) override {
    return NoThrow([&] { return Duplicate(command_.label, name); });
  }
  STDMETHOD(GetIcon)(IShellItemArray*, LPWSTR* icon) override {
    return NoThrow([&]() -> HRESULT {
      if (icon) *icon = nullptr;
      if (command_.companion) return Duplicate(ModuleIconReference(), icon);
      // The interpreter's own first icon; an entry without a path has none.
      if (command_.path.empty()) return E_NOTIMPL;
      return Duplicate(command_.path + L",0", icon);
    });
  }
  STDMETHOD(GetToolTip)(IShellItemArray*, LPWSTR* tip) override {
    if (tip) *tip = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetCanonicalName)(GUID* name) override {
    if (name) *name = GUID_NULL;
    return E_NOTIMPL;
  }
  STDMETHOD(GetState)(IShellItemArray*, BOOL, EXPCMDSTATE* state) override {
    if (!state) return E_POINTER;
    *state = ECS_ENABLED;
    return S_OK;
  }
  STDMETHOD(Invoke)(IShellItemArray* items, IBindCtx*) override {
    return NoThrow([&]() -> HRESULT {
      VELMAR_FAULT_POINT(L"ExplorerInvoke");
      std::wstring folder;
      if (!StartFolderFor(items, site_folder_, &folder)) return E_INVALIDARG;
      log_write(LOG_DEBUG, L"ExplorerCommand::Invoke: %s", command_.path.c_str());
      RunMenuCommand(command_, folder, command_line_);
      return S_OK;
    });
  }
  STDMETHOD(GetFlags)(EXPCMDFLAGS* flags) override {
    if (!flags) return E_POINTER;
    *flags = ECF_DEFAULT;
    return S_OK;
  }
  STDMETHOD(EnumSubCommands)(IEnumExplorerCommand** commands) override {
    if (commands) *commands = nullptr;
    return E_NOTIMPL;
  }

 private:
  MenuCommand command_;
  std::string command_line_;
  std::wstring site_folder_;
};

// The subcommands, in menu order.
class CExplorerCommandList : public comfw::CComObjectRootEx<comfw::CComSingleThreadModel>,
                             public IEnumExplorerCommand {
 public:
  COMFW_BEGIN_COM_MAP(CExplorerCommandList)
  COMFW_INTERFACE_ENTRY_IID(IID_IEnumExplorerCommand, IEnumExplorerCommand)
  COMFW_END_COM_MAP()

  void Add(IExplorerCommand* command) { commands_.emplace_back(command); }

  STDMETHOD(Next)(ULONG count, IExplorerCommand** out, ULONG* fetched) override {
    if (!out || (count != 1 && !fetched)) return E_POINTER;
    ULONG given = 0;
    for (; given < count && next_ < commands_.size(); ++given, ++next_) {
      out[given] = commands_[next_].get();
      out[given]->AddRef();
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  STDMETHOD(Skip)(ULONG count) override {
    next_ = count < commands_.size() - next_ ? next_ + count : commands_.size();
    return next_ < commands_.size() ? S_OK : S_FALSE;
  }
  STDMETHOD(Reset)() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHOD(Clone)(IEnumExplorerCommand** copy) override {
    if (copy) *copy = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::vector<ComPtr<IExplorerCommand>> commands_;
  size_t next_ = 0;
};

}  // namespace

namespace {

// The folder a console starts in for `path`: the path itself when it is a folder, else the folder
// that holds it; false when the path or that folder is too long for it.
bool ConsoleFolderOf(const wchar_t* path, std::wstring* folder) {
  if (lstrlenW(path) >= MAX_PATH) return false;  // never cut: that would name another file
  wchar_t start[MAX_PATH] = {};
  lstrcpyW(start, path);
  if (!CExtensionsShellEx::IsDirectory(start)) PathRemoveFileSpecW(start);
  if (lstrlenW(start) > static_cast<int>(CommandUtils::kStartFolderLimit)) return false;
  *folder = start;
  return true;
}

// The file-system path of an item; empty for a virtual one (This PC, the Recycle Bin). Read from
// the item's ID list where it has one: its path may be a kept one, and asking the item for its
// display name costs twice as much under some shells.
std::wstring FileSystemPath(IShellItem* item) {
  if (!item) return L"";
  PIDLIST_ABSOLUTE list = nullptr;
  if (SUCCEEDED(SHGetIDListFromObject(item, &list))) {
    PidlPtr owner(list);
    return ItemPaths::Instance().PathOf(owner.get());
  }
  LPWSTR path = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return L"";
  std::wstring text = path;
  CoTaskMemFree(path);
  return text;
}

}  // namespace

std::wstring SiteFolder(IUnknown* site) {
  ComPtr<IServiceProvider> services;
  if (!site || FAILED(site->QueryInterface(IID_IServiceProvider, services.put_void()))) return L"";
  ComPtr<IFolderView> view;
  if (FAILED(services->QueryService(SID_SFolderView, IID_IFolderView, view.put_void()))) {
    // A site that offers no folder view of its own: the browser's active view.
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> shown;
    if (FAILED(
            services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
        FAILED(browser->QueryActiveShellView(shown.put())) ||
        FAILED(shown->QueryInterface(IID_IFolderView, view.put_void())))
      return L"";
  }
  ComPtr<IShellItem> folder;
  if (FAILED(view->GetFolder(IID_IShellItem, folder.put_void()))) return L"";
  return FileSystemPath(folder.get());
}

bool StartFolderFor(IShellItemArray* items, const std::wstring& site_folder, std::wstring* folder) {
  DWORD count = 0;
  if (items && FAILED(items->GetCount(&count))) return false;
  ComPtr<IShellItem> item;
  if (count == 1 && FAILED(items->GetItemAt(0, item.put()))) return false;
  if (count > 1) return false;
  if (!item) return !site_folder.empty() && ConsoleFolderOf(site_folder.c_str(), folder);
  const std::wstring path = FileSystemPath(item.get());
  return !path.empty() && ConsoleFolderOf(path.c_str(), folder);
}

STDMETHODIMP CExplorerCommand::GetTitle(IShellItemArray* items, LPWSTR* name) {
  return NoThrow([&] {
    if (items) LearnStartFolder(items);
    return Duplicate(kPythonHereLabel, name);
  });
}

void CExplorerCommand::LearnStartFolder(IShellItemArray* items) {
  std::wstring folder;
  if (StartFolderOf(items, &folder)) m_strStartFolder = folder;
}

bool CExplorerCommand::StartFolderOf(IShellItemArray* items, std::wstring* folder) {
  DWORD count = 0;
  ComPtr<IShellItem> item;
  const bool one_item = items && SUCCEEDED(items->GetCount(&count)) && count == 1 &&
                        SUCCEEDED(items->GetItemAt(0, item.put())) && item;
  if (one_item && items == m_spAskedItems.get()) {
    *folder = m_strAskedFolder;
    return m_bAskedUsable;
  }
  // The site's folder counts only without an item (no array, none in it, or a null one).
  const bool usable = StartFolderFor(items, one_item ? L"" : SiteFolder(m_spSite.get()), folder);
  if (one_item) {
    m_spAskedItems = ComPtr<IShellItemArray>(items);
    m_bAskedUsable = usable;
    m_strAskedFolder = usable ? *folder : L"";
  }
  return usable;
}

STDMETHODIMP CExplorerCommand::GetIcon(IShellItemArray*, LPWSTR* icon) {
  return NoThrow([&] { return Duplicate(ModuleIconReference(), icon); });
}

STDMETHODIMP CExplorerCommand::GetToolTip(IShellItemArray*, LPWSTR* tip) {
  if (tip) *tip = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CExplorerCommand::GetCanonicalName(GUID* name) {
  if (!name) return E_POINTER;
  *name = CLSID_ExplorerCommand;
  return S_OK;
}

STDMETHODIMP CExplorerCommand::GetState(IShellItemArray* items, BOOL, EXPCMDSTATE* state) {
  return NoThrow([&]() -> HRESULT {
    VELMAR_FAULT_POINT(L"GetState");
    if (!state) return E_POINTER;
    std::wstring folder;
    *state = StartFolderOf(items, &folder) ? ECS_ENABLED : ECS_HIDDEN;
    if (*state == ECS_ENABLED) m_strStartFolder = folder;
    return S_OK;
  });
}

STDMETHODIMP CExplorerCommand::Invoke(IShellItemArray*, IBindCtx*) { return E_NOTIMPL; }

STDMETHODIMP CExplorerCommand::GetFlags(EXPCMDFLAGS* flags) {
  if (!flags) return E_POINTER;
  *flags = ECF_HASSUBCOMMANDS;
  return S_OK;
}

STDMETHODIMP CExplorerCommand::EnumSubCommands(IEnumExplorerCommand** out) {
  return NoThrow([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    VELMAR_FAULT_POINT(L"EnumSubCommands");
    const std::wstring folder = ModuleFolder();
    if (folder.empty()) return E_FAIL;
    Configure configure;
    bool loaded = configure.load(folder + kConfigFileName);
    log_set_level(loaded ? configure.config.log_level : LOG_INFO);
    comfw::CComObject<CExplorerCommandList>* list = nullptr;
    HRESULT hr = comfw::CComObject<CExplorerCommandList>::CreateInstance(&list);
    if (FAILED(hr)) return hr;
    ComPtr<IEnumExplorerCommand> owner(list);
    // The subcommands may outlive the site: each gets the folder, not the site.
    const std::wstring site_folder = SiteFolder(m_spSite.get());
    // Explorer hands the selection to GetState and GetTitle, not here.
    std::wstring start_folder = m_strStartFolder;
    if (start_folder.empty()) StartFolderFor(nullptr, site_folder, &start_folder);
    for (const MenuCommand& command :
         MenuCommands(configure.config, folder + kCompanionFileName, start_folder)) {
      comfw::CComObject<CExplorerSubCommand>* sub = nullptr;
      hr = comfw::CComObject<CExplorerSubCommand>::CreateInstance(&sub);
      if (FAILED(hr)) return hr;
      ComPtr<IExplorerCommand> keep(sub);
      sub->Set(command, configure.config.command_line, site_folder);
      list->Add(keep.get());
    }
    log_write(LOG_DEBUG, L"ExplorerCommand::EnumSubCommands: settings loaded %d", loaded ? 1 : 0);
    *out = owner.Detach();
    return S_OK;
  });
}

STDMETHODIMP CExplorerCommand::SetSite(IUnknown* site) {
  m_spSite = ComPtr<IUnknown>(site);
  return S_OK;
}

STDMETHODIMP CExplorerCommand::GetSite(REFIID riid, void** site) {
  if (!site) return E_POINTER;
  *site = nullptr;
  return m_spSite ? m_spSite->QueryInterface(riid, site) : E_FAIL;
}
