// ATL's CComModule, in the part an in-process COM server uses: the object map, the module's lock
// count, and the class factories it makes on first request and keeps.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace comfw {

// Makes an object (or a class factory) and queries it for an interface. For a class factory
// creator, `pv` is the instance creator the factory is to use; for an instance creator, it is
// the outer object (or null).
typedef HRESULT(WINAPI* CreatorFunc)(void* pv, REFIID riid, void** ppv);

struct ObjectMapEntry {
  const CLSID* pclsid;  // null ends the map
  HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
  CreatorFunc pfnGetClassObject;
  CreatorFunc pfnCreateInstance;
  IUnknown* pCF;  // the cached class factory, made on first request
};

class CComModule {
 public:
  void Init(ObjectMapEntry* map, HINSTANCE instance);
  void Term();

  LONG Lock() { return InterlockedIncrement(&m_nLockCnt); }
  LONG Unlock() { return InterlockedDecrement(&m_nLockCnt); }
  LONG GetLockCount() const { return m_nLockCnt; }
  HINSTANCE GetModuleInstance() const { return m_hInst; }
  // The module file's full path; empty when it cannot be had.
  std::wstring GetModulePath() const;

  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
  // Registers (or unregisters) every class of the map, stopping at the first failure.
  HRESULT RegisterServer() { return UpdateRegistry(TRUE); }
  HRESULT UnregisterServer() { return UpdateRegistry(FALSE); }

 private:
  HRESULT UpdateRegistry(BOOL bRegister);

  ObjectMapEntry* m_pObjMap = nullptr;
  HINSTANCE m_hInst = nullptr;
  volatile LONG m_nLockCnt = 0;
  CRITICAL_SECTION m_csObjMap;
};

// The module object of this process; the object wrappers and class factories lock through it.
extern CComModule* g_module;

}  // namespace comfw

#define COMFW_BEGIN_OBJECT_MAP(name) static ::comfw::ObjectMapEntry name[] = {
#define COMFW_OBJECT_ENTRY(clsid, cls)                                          \
  {&clsid, cls::UpdateRegistry, cls::_ClassFactoryCreatorClass::CreateInstance, \
   cls::_CreatorClass::CreateInstance, nullptr},
#define COMFW_END_OBJECT_MAP()                    \
  { nullptr, nullptr, nullptr, nullptr, nullptr } \
  }                                               \
  ;
