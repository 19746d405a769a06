// Holds the registered shell extension loaded, as Explorer does between right-clicks:
//   module_holder EVENT   creates the handler through its registration, signals the named
//                         event and waits until it is ended.
// Exit code 1 when the handler cannot be created, 2 for wrong arguments.
#include <windows.h>
#include <objbase.h>

#include "shellext/class_id.h"
#include "tools/explorer/owners.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  ComPtr<IUnknown> handler;
  if (FAILED(CoCreateInstance(CLSID_ExtensionsShellEx, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                              handler.put_void())))
    return 1;
  UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
  if (!ready || !SetEvent(ready.get())) return 1;
  Sleep(INFINITE);
  return 0;
}
