#include "framework/module.h"

namespace comfw {

CComModule* g_module = nullptr;

void CComModule::Init(ObjectMapEntry* map, HINSTANCE instance) {
  InitializeCriticalSection(&m_csObjMap);
  m_pObjMap = map;
  m_hInst = instance;
  g_module = this;
}

void CComModule::Term() {
  if (g_module != this) return;
  for (ObjectMapEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (IUnknown* factory = entry->pCF) {
      entry->pCF = nullptr;
      factory->Release();
    }
  }
  DeleteCriticalSection(&m_csObjMap);
  g_module = nullptr;
}

HRESULT CComModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (ObjectMapEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (!IsEqualCLSID(*entry->pclsid, rclsid)) continue;
    HRESULT hr = S_OK;
    EnterCriticalSection(&m_csObjMap);
    if (!entry->pCF) {
      hr = entry->pfnGetClassObject(reinterpret_cast<void*>(entry->pfnCreateInstance), IID_IUnknown,
                                    reinterpret_cast<void**>(&entry->pCF));
    }
    LeaveCriticalSection(&m_csObjMap);
    return FAILED(hr) ? hr : entry->pCF->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComModule::UpdateRegistry(BOOL bRegister) {
  for (ObjectMapEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    HRESULT hr = entry->pfnUpdateRegistry(bRegister);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

std::wstring CComModule::GetModulePath() const {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(m_hInst, &path[0], static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return path;
}

}  // namespace comfw
