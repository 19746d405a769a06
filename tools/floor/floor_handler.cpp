// The floor of the benchmark: a context-menu handler and a Windows 11 command that read nothing
// and do nothing but answer, with as many items as a right-click of ours shows (plain strings, no
// icons). What a right-click costs with it is what the shell and COM cost any handler.
// Never shipped. Its submenu holds VELMAR_FLOOR_ITEMS items (default 11), the last one the
// companion's.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>

// {5B3C8E51-7A0D-4C52-9E61-0F1D2A7B9C01}
const CLSID kFloorClsid = {
    0x5B3C8E51, 0x7A0D, 0x4C52, {0x9E, 0x61, 0x0F, 0x1D, 0x2A, 0x7B, 0x9C, 0x01}};

namespace {

LONG g_objects = 0;
const wchar_t kTopLabel[] = L"Python here";
const wchar_t kItemLabel[] = L"Python 3.12.1 64";
const wchar_t kCompanionLabel[] = L"Open Velmar";
const wchar_t kIcon[] = L"C:\\windows\\system32\\shell32.dll,-1";

UINT SubmenuItems() {
  static const UINT items = [] {
    wchar_t text[16] = {};
    const int count = GetEnvironmentVariableW(L"VELMAR_FLOOR_ITEMS", text, 16) ? _wtoi(text) : 11;
    return count > 0 ? static_cast<UINT>(count) : 1u;
  }();
  return items;
}

// IUnknown of an object of one or more interfaces; the last Release deletes it.
template <class Derived>
class Counted {
 public:
  Counted() { InterlockedIncrement(&g_objects); }
  virtual ~Counted() { InterlockedDecrement(&g_objects); }
  ULONG AddOne() { return InterlockedIncrement(&references_); }
  ULONG DropOne() {
    ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 private:
  LONG references_ = 1;
};

#define FLOOR_UNKNOWN                                         \
  STDMETHODIMP_(ULONG) AddRef() override { return AddOne(); } \
  STDMETHODIMP_(ULONG) Release() override { return DropOne(); }

// What every command of the floor answers: a constant title and icon, enabled; with
// subcommands (the top command) or without.
class AnyCommand : public IExplorerCommand {
 public:
  AnyCommand(const wchar_t* label, bool top) : label_(label), top_(top) {}
  virtual ~AnyCommand() = default;
  STDMETHODIMP GetTitle(IShellItemArray*, LPWSTR* name) override { return SHStrDupW(label_, name); }
  STDMETHODIMP GetIcon(IShellItemArray*, LPWSTR* icon) override { return SHStrDupW(kIcon, icon); }
  STDMETHODIMP GetToolTip(IShellItemArray*, LPWSTR* tip) override {
    *tip = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetCanonicalName(GUID* name) override {
    *name = top_ ? kFloorClsid : GUID_NULL;
    return top_ ? S_OK : E_NOTIMPL;
  }
  STDMETHODIMP GetState(IShellItemArray*, BOOL, EXPCMDSTATE* state) override {
    *state = ECS_ENABLED;
    return S_OK;
  }
  STDMETHODIMP Invoke(IShellItemArray*, IBindCtx*) override { return top_ ? E_NOTIMPL : S_OK; }
  STDMETHODIMP GetFlags(EXPCMDFLAGS* flags) override {
    *flags = top_ ? ECF_HASSUBCOMMANDS : ECF_DEFAULT;
    return S_OK;
  }
  STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** list) override;

 private:
  const wchar_t* label_;
  bool top_;
};

class SubCommand : public Counted<SubCommand>, public AnyCommand {
 public:
  explicit SubCommand(const wchar_t* label) : AnyCommand(label, false) {}
  FLOOR_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IExplorerCommand ? static_cast<IExplorerCommand*>(this)
                                                              : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
};

class CommandList : public Counted<CommandList>, public IEnumExplorerCommand {
 public:
  CommandList() : count_(SubmenuItems()) {
    commands_ = new IExplorerCommand*[count_];
    for (UINT i = 0; i < count_; ++i)
      commands_[i] = new SubCommand(i + 1 < count_ ? kItemLabel : kCompanionLabel);
  }
  ~CommandList() override {
    for (UINT i = 0; i < count_; ++i) commands_[i]->Release();
    delete[] commands_;
  }
  FLOOR_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IEnumExplorerCommand
               ? static_cast<IEnumExplorerCommand*>(this)
               : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Next(ULONG count, IExplorerCommand** out, ULONG* fetched) override {
    ULONG given = 0;
    for (; given < count && next_ < count_; ++given, ++next_) {
      out[given] = commands_[next_];
      out[given]->AddRef();
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    next_ = count < count_ - next_ ? next_ + count : count_;
    return next_ < count_ ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumExplorerCommand** copy) override {
    *copy = nullptr;
    return E_NOTIMPL;
  }

 private:
  UINT count_;
  UINT next_ = 0;
  IExplorerCommand** commands_;
};

// The handler: Initialize accepts anything, QueryContextMenu adds the submenu of plain strings;
// as Windows 11's command it is the top command with the same items below it.
class Handler : public Counted<Handler>,
                public IShellExtInit,
                public IContextMenu,
                public AnyCommand {
 public:
  Handler() : AnyCommand(kTopLabel, true) {}
  FLOOR_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IShellExtInit)
      *out = static_cast<IShellExtInit*>(this);
    else if (iid == IID_IContextMenu)
      *out = static_cast<IContextMenu*>(this);
    else if (iid == IID_IExplorerCommand)
      *out = static_cast<IExplorerCommand*>(this);
    else
      *out = nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY) override { return S_OK; }
  STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT, UINT) override {
    HMENU submenu = CreatePopupMenu();
    const UINT items = SubmenuItems();
    for (UINT i = 0; i < items; ++i)
      AppendMenuW(submenu, MF_STRING, first + 2 + i, i + 1 < items ? kItemLabel : kCompanionLabel);
    MENUITEMINFOW item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    item.wID = first + 1;
    item.hSubMenu = submenu;
    item.dwTypeData = const_cast<wchar_t*>(kTopLabel);
    InsertMenuItemW(menu, index, TRUE, &item);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, items + 2);
  }
  STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO*) override { return S_OK; }
  STDMETHODIMP GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) override { return E_NOTIMPL; }
};

STDMETHODIMP AnyCommand::EnumSubCommands(IEnumExplorerCommand** list) {
  *list = top_ ? new CommandList : nullptr;
  return top_ ? S_OK : E_NOTIMPL;
}

class Factory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Handler* handler = new Handler;
    HRESULT hr = handler->QueryInterface(iid, out);
    handler->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != kFloorClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
