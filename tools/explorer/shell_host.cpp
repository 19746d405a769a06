#include "tools/explorer/shell_host.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstring>

namespace {

// A data object that serves one CF_HDROP list and nothing else.
class DropListObject : public IDataObject {
 public:
  explicit DropListObject(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) files_ += path + L'\0';
    files_ += L'\0';
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
      *ppv = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return InterlockedIncrement(&refs_); }
  STDMETHOD_(ULONG, Release)() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }
  STDMETHOD(GetData)(FORMATETC* format, STGMEDIUM* medium) override {
    if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    size_t bytes = sizeof(DROPFILES) + files_.size() * sizeof(wchar_t);
    HGLOBAL global = GlobalAlloc(GHND, bytes);
    if (!global) return E_OUTOFMEMORY;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(global));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, files_.data(), files_.size() * sizeof(wchar_t));
    GlobalUnlock(global);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = global;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHOD(GetDataHere)(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHOD(QueryGetData)(FORMATETC* format) override {
    return format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
  }
  STDMETHOD(GetCanonicalFormatEtc)(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHOD(SetData)(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHOD(EnumFormatEtc)(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHOD(DAdvise)(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(DUnadvise)(DWORD) override { return E_NOTIMPL; }
  STDMETHOD(EnumDAdvise)(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  virtual ~DropListObject() = default;
  volatile LONG refs_ = 1;
  std::wstring files_;
};

}  // namespace

ShellHost::ShellHost()
    : com_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)),
      uxtheme_(LoadLibraryW(L"uxtheme.dll")) {}

ShellHost::~ShellHost() {
  if (uxtheme_) FreeLibrary(uxtheme_);
  if (SUCCEEDED(com_)) CoUninitialize();
}

HRESULT ShellHost::CreateHandler(ComPtr<IShellExtInit>* handler, REFCLSID clsid) const {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                          handler->put_void());
}

PidlPtr ShellHost::FolderIdList(const std::wstring& path) {
  return PidlPtr(ILCreateFromPathW(path.c_str()));
}

HRESULT ShellHost::DataObjectFor(const std::vector<std::wstring>& paths, ComPtr<IDataObject>* out) {
  if (paths.empty()) return E_INVALIDARG;
  std::vector<PidlPtr> full;
  for (const std::wstring& path : paths) {
    full.emplace_back(ILCreateFromPathW(path.c_str()));
    if (!full.back().get()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  ComPtr<IShellFolder> parent;
  PCUITEMID_CHILD first = nullptr;
  HRESULT hr = SHBindToParent(full[0].get(), IID_IShellFolder, parent.put_void(), &first);
  if (FAILED(hr)) return hr;
  std::vector<PCUITEMID_CHILD> children;
  for (const PidlPtr& pidl : full) children.push_back(ILFindLastID(pidl.get()));
  return parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(),
                               IID_IDataObject, nullptr, out->put_void());
}

ComPtr<IDataObject> ShellHost::DropListDataObject(const std::vector<std::wstring>& paths) {
  ComPtr<IDataObject> object;
  *object.put() = new DropListObject(paths);
  return object;
}

HRESULT ShellHost::InitializeBackground(IShellExtInit* handler, const std::wstring& folder) {
  PidlPtr pidl = FolderIdList(folder);
  if (!pidl.get()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  return handler->Initialize(pidl.get(), nullptr, nullptr);
}

HRESULT ShellHost::InitializeSelection(IShellExtInit* handler,
                                       const std::vector<std::wstring>& paths) {
  ComPtr<IDataObject> data;
  HRESULT hr = DataObjectFor(paths, &data);
  if (FAILED(hr)) return hr;
  // Explorer passes the folder that holds the selection along with it.
  std::wstring folder = paths[0];
  PathRemoveFileSpecW(&folder[0]);
  PidlPtr pidl = FolderIdList(folder.c_str());
  return handler->Initialize(pidl.get(), data.get(), nullptr);
}
