// Holds the registered shell extension loaded, as Explorer does between right-clicks:
//   module_holder EVENT [DLL]  creates the handler through its registration (or through the
//                         module DLL's own class factory, for a registration COM does not see
//                         here: a current user's), signals the named event and waits until it is
//                         ended.
// Exit code 1 when the handler cannot be created, 2 for wrong arguments.
#include <windows.h>
#include <objbase.h>

#include "common/class_id.h"
#include "common/owners.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  ComPtr<IUnknown> handler;
  if (argc == 3) {
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    HMODULE module = LoadLibraryW(argv[2]);
    auto get_class_object = module ? reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(
                                         GetProcAddress(module, "DllGetClassObject")))
                                   : nullptr;
    ComPtr<IClassFactory> factory;
    if (!get_class_object ||
        FAILED(get_class_object(CLSID_ExtensionsShellEx, IID_IClassFactory, factory.put_void())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IUnknown, handler.put_void())))
      return 1;
  } else if (FAILED(CoCreateInstance(CLSID_ExtensionsShellEx, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IUnknown, handler.put_void()))) {
    return 1;
  }
  ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
  if (!ready || !SetEvent(ready.get())) return 1;
  Sleep(INFINITE);
  return 0;
}
