// Plays Windows' package manager for the tests: a library that answers for the activatable class
// Windows.Management.Deployment.PackageManager once its path is registered under
// HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\<class>\DllPath (Wine has none).
#include <windows.h>
#include <unknwn.h>

namespace {

class Factory final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

 private:
  LONG references_ = 1;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(void*, IUnknown** factory) {
  if (!factory) return E_POINTER;
  *factory = new Factory;
  return S_OK;
}
