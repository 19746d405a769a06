// Entry point and the exports through which the host creates handler objects.
#include <windows.h>
#include <objbase.h>

#include "common/fault_point.h"
#include "server/module.h"
#include "shellext/explorer_command.h"
#include "shellext/extensions_shell_ex.h"
#include "shellext/icon_store.h"

comfw::CComModule g_comModule;

#if defined(__GLIBCXX__)
// The C++ runtime's reserve for exceptions thrown when memory runs out (about 73 KB), which it
// never frees itself: with the runtime linked in, every unload would leave one behind.
namespace __gnu_cxx {
void __freeres();
}
#endif

COMFW_BEGIN_OBJECT_MAP(ObjectMap)
COMFW_OBJECT_ENTRY(CLSID_ExtensionsShellEx, CExtensionsShellEx)
COMFW_OBJECT_ENTRY(CLSID_ExplorerCommand, CExplorerCommand)
COMFW_END_OBJECT_MAP()

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    // No DisableThreadLibraryCalls: the statically linked runtime needs the thread notices.
    g_comModule.Init(ObjectMap, instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    g_comModule.Term();
#if defined(__GLIBCXX__)
    if (!reserved) __gnu_cxx::__freeres();  // unloaded while the host goes on
#endif
  }
  return TRUE;
}

// With no object alive the store's bitmaps go before the module may. A handler made on another
// thread meanwhile holds its own references to what its menu shows.
STDAPI DllCanUnloadNow() {
  if (g_comModule.GetLockCount() != 0) return S_FALSE;
  VELMAR_PAUSE_POINT(L"DllCanUnloadNow");
  IconStore::Instance().Clear();
  return S_OK;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return NoThrow([&] { return g_comModule.GetClassObject(rclsid, riid, ppv); });
}
