// Plays Windows' package manager for the tests: a library that answers for the activatable class
// Windows.Management.Deployment.PackageManager once its path is registered under
// HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\<class>\DllPath (Wine has none).
#include <windows.h>
#include <unknwn.h>

#include "tools/explorer/unknown.h"

namespace {

// Any object will do: the companion only asks whether the class can be activated.
class Factory final : public Unknown<IUnknown> {
 public:
  Factory() : Unknown(IID_IUnknown) {}
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(void*, IUnknown** factory) {
  if (!factory) return E_POINTER;
  *factory = new Factory;
  return S_OK;
}
