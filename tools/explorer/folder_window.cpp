#include "tools/explorer/folder_window.h"

#include <cstring>

#include "tools/explorer/unknown.h"

namespace {

// This PC: a folder without a file-system path.
ComPtr<IShellItem> ThisPc() {
  ComPtr<IShellItem> item;
  PIDLIST_ABSOLUTE drives = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives))) {
    SHCreateItemFromIDList(drives, IID_IShellItem, item.put_void());
    ILFree(drives);
  }
  return item;
}

// An item that is what its path says, whether or not the path exists.
class PathItem final : public Unknown<IShellItem> {
 public:
  explicit PathItem(const std::wstring& path) : Unknown(IID_IShellItem), path_(path) {}
  STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetParent(IShellItem** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetDisplayName(SIGDN, LPWSTR* name) override {
    if (!name) return E_POINTER;
    size_t size = (path_.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPWSTR>(CoTaskMemAlloc(size));
    if (!*name) return E_OUTOFMEMORY;
    memcpy(*name, path_.c_str(), size);
    return S_OK;
  }
  STDMETHODIMP GetAttributes(SFGAOF, SFGAOF* out) override {
    if (out) *out = 0;
    return E_NOTIMPL;
  }
  STDMETHODIMP Compare(IShellItem*, SICHINTF, int* out) override {
    if (out) *out = 1;
    return E_NOTIMPL;
  }

 private:
  std::wstring path_;
};

class Items final : public Unknown<IShellItemArray> {
 public:
  explicit Items(const std::vector<std::wstring>& paths) : Unknown(IID_IShellItemArray) {
    for (const std::wstring& path : paths) {
      items_.emplace_back();
      if (path == L"This PC")
        items_.back() = ThisPc();
      else if (!path.empty())
        *items_.back().put() = new PathItem(path);
    }
  }
  STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF* out) override {
    if (out) *out = 0;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetCount(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<DWORD>(items_.size());
    return S_OK;
  }
  STDMETHODIMP GetItemAt(DWORD index, IShellItem** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (index >= items_.size()) return E_INVALIDARG;
    *item = items_[index].get();
    if (*item) (*item)->AddRef();
    return S_OK;
  }
  STDMETHODIMP EnumItems(IEnumShellItems** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::vector<ComPtr<IShellItem>> items_;
};

}  // namespace

// The window's view of its folder: a folder view, and the browser's active shell view.
class FolderWindow::View final : public Unknown<IFolderView>, public IShellView {
 public:
  explicit View(const wchar_t* folder) : Unknown(IID_IFolderView) {
    if (folder)
      *folder_.put() = new PathItem(folder);
    else
      folder_ = ThisPc();
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid != IID_IShellView && iid != IID_IOleWindow) return Unknown::QueryInterface(iid, out);
    *out = static_cast<IShellView*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return Unknown::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return Unknown::Release(); }

  // IFolderView: only the folder counts.
  STDMETHODIMP GetFolder(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return folder_ ? folder_->QueryInterface(iid, out) : E_FAIL;
  }
  STDMETHODIMP GetCurrentViewMode(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetCurrentViewMode(UINT) override { return E_NOTIMPL; }
  STDMETHODIMP Item(int, PITEMID_CHILD*) override { return E_NOTIMPL; }
  STDMETHODIMP ItemCount(UINT, int*) override { return E_NOTIMPL; }
  STDMETHODIMP Items(UINT, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP GetSelectionMarkedItem(int*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFocusedItem(int*) override { return E_NOTIMPL; }
  STDMETHODIMP GetItemPosition(PCUITEMID_CHILD, POINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSpacing(POINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDefaultSpacing(POINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAutoArrange() override { return E_NOTIMPL; }
  STDMETHODIMP SelectItem(int, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SelectAndPositionItems(UINT, PCUITEMID_CHILD_ARRAY, POINT*, DWORD) override {
    return E_NOTIMPL;
  }
  // IShellView: nothing.
  STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
  STDMETHODIMP ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return E_NOTIMPL; }
  STDMETHODIMP EnableModeless(WINBOOL) override { return E_NOTIMPL; }
  STDMETHODIMP UIActivate(UINT) override { return E_NOTIMPL; }
  STDMETHODIMP Refresh() override { return E_NOTIMPL; }
  STDMETHODIMP CreateViewWindow(IShellView*, LPCFOLDERSETTINGS, IShellBrowser*, RECT*,
                                HWND*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP DestroyViewWindow() override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
  STDMETHODIMP AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP SaveViewState() override { return E_NOTIMPL; }
  STDMETHODIMP SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }
  STDMETHODIMP GetItemObject(UINT, REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ComPtr<IShellItem> folder_;
};

class FolderWindow::Browser final : public Unknown<IShellBrowser> {
 public:
  explicit Browser(View* view) : Unknown(IID_IShellBrowser), view_(view) {}
  STDMETHODIMP QueryActiveShellView(IShellView** out) override {
    if (!out) return E_POINTER;
    *out = view_;
    view_->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
  STDMETHODIMP ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP EnableModelessSB(WINBOOL) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
  STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
  STDMETHODIMP GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
  STDMETHODIMP GetControlWindow(UINT, HWND*) override { return E_NOTIMPL; }
  STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
  STDMETHODIMP OnViewWindowActive(IShellView*) override { return E_NOTIMPL; }
  STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }

 private:
  View* view_;  // the window holds it
};

class FolderWindow::Site final : public Unknown<IServiceProvider> {
 public:
  Site(View* view, Browser* browser, Offers offers)
      : Unknown(IID_IServiceProvider), view_(view), browser_(browser), offers_(offers) {}
  STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (service == SID_SFolderView && (offers_ == Offers::kBoth || offers_ == Offers::kFolderView))
      return view_->QueryInterface(iid, out);
    if (service == SID_STopLevelBrowser &&
        (offers_ == Offers::kBoth || offers_ == Offers::kBrowser))
      return browser_->QueryInterface(iid, out);
    return E_NOINTERFACE;
  }

 private:
  View* view_;
  Browser* browser_;
  Offers offers_;
};

FolderWindow::FolderWindow(const wchar_t* folder, Offers offers)
    : site_(nullptr), view_(new View(folder)), browser_(nullptr) {
  browser_ = new Browser(view_);
  site_ = new Site(view_, browser_, offers);
}

FolderWindow::~FolderWindow() {
  site_->Release();
  browser_->Release();
  view_->Release();
}

IUnknown* FolderWindow::site() const { return site_; }

long FolderWindow::HeldByOthers() const {
  return site_->references() - 1 + browser_->references() - 1 + view_->references() - 1;
}

ComPtr<IShellItemArray> ItemArray(const std::vector<std::wstring>& paths) {
  ComPtr<IShellItemArray> items;
  *items.put() = new Items(paths);
  return items;
}
