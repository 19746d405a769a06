#include "tools/explorer/misbehaving_callers.h"

#include <cstring>
#include <vector>

#include "tools/explorer/unknown.h"

namespace {

// The drop list of one wide name: the header, the name, two zeros.
std::vector<char> DropListBytes(const std::wstring& path) {
  std::vector<char> bytes(sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t), '\0');
  DROPFILES header = {};
  header.pFiles = sizeof(DROPFILES);
  header.fWide = TRUE;
  memcpy(bytes.data(), &header, sizeof(header));
  memcpy(bytes.data() + sizeof(header), path.c_str(), path.size() * sizeof(wchar_t));
  return bytes;
}

HGLOBAL Block(const std::vector<char>& bytes) {
  HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!global) return nullptr;
  memcpy(GlobalLock(global), bytes.data(), bytes.size());
  GlobalUnlock(global);
  return global;
}

class HostileDataObject final : public Unknown<IDataObject> {
 public:
  HostileDataObject(const std::wstring& kind, const std::wstring& path)
      : Unknown(IID_IDataObject), kind_(kind), path_(path) {}

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    static const CLIPFORMAT id_lists =
        static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
    if (format && medium && format->cfFormat == id_lists && kind_ == L"lists-open") {
      // One item, whose list's first item claims more bytes than the block holds.
      const UINT head[] = {1, 3 * sizeof(UINT), 3 * sizeof(UINT) + 2};
      std::vector<char> bytes(sizeof(head) + 4, '\0');
      memcpy(bytes.data(), head, sizeof(head));
      bytes[sizeof(head) + 2] = '\x7F';
      bytes[sizeof(head) + 3] = '\x7F';
      medium->tymed = TYMED_HGLOBAL;
      medium->hGlobal = Block(bytes);
      medium->pUnkForRelease = nullptr;
      return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
    }
    if (!format || !medium || format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    *medium = {};
    std::vector<char> bytes = DropListBytes(path_);
    auto* header = reinterpret_cast<DROPFILES*>(bytes.data());
    if (kind_ == L"stream") {
      HGLOBAL global = Block(bytes);
      medium->tymed = TYMED_ISTREAM;
      return global ? CreateStreamOnHGlobal(global, TRUE, &medium->pstm) : E_OUTOFMEMORY;
    }
    if (kind_ == L"file") {  // a file of its own: releasing the medium deletes it
      std::wstring file = path_ + L".medium";
      HANDLE made = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (made == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
      CloseHandle(made);
      size_t size = (file.size() + 1) * sizeof(wchar_t);
      medium->tymed = TYMED_FILE;
      medium->lpszFileName = static_cast<LPOLESTR>(CoTaskMemAlloc(size));
      if (!medium->lpszFileName) return E_OUTOFMEMORY;
      memcpy(medium->lpszFileName, file.c_str(), size);
      return S_OK;
    }
    if (kind_ == L"short") bytes.resize(8);
    if (kind_ == L"outside") header->pFiles = 0x10000000;
    if (kind_ == L"open") std::fill(bytes.begin() + sizeof(DROPFILES), bytes.end(), 'x');
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = Block(bytes);
    return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override {
    return format && format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
  }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  std::wstring kind_, path_;
};

}  // namespace

ComPtr<IDataObject> HostileDropList(const std::wstring& kind, const std::wstring& path) {
  ComPtr<IDataObject> object;
  *object.put() = new HostileDataObject(kind, path);
  return object;
}

HRESULT InvokeWithShortRecord(IContextMenu* menu) {
  SYSTEM_INFO system = {};
  GetSystemInfo(&system);
  const SIZE_T page = system.dwPageSize;
  char* pages =
      static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!pages) return E_OUTOFMEMORY;
  DWORD previous = 0;
  VirtualProtect(pages + page, page, PAGE_NOACCESS, &previous);
  // cbSize (4 bytes) and fMask (4 bytes); the verb would follow, in the page that cannot be read.
  auto* info = reinterpret_cast<CMINVOKECOMMANDINFO*>(pages + page - 8);
  info->cbSize = 8;
  info->fMask = 0;
  HRESULT hr = menu->InvokeCommand(info);
  VirtualFree(pages, 0, MEM_RELEASE);
  return hr;
}
