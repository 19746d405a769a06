#include "framework/module.h"

namespace comfw {

CComModule* g_module = nullptr;

HRESULT CComModule::Init(ObjectMapEntry* map, HINSTANCE instance) {
  InitializeCriticalSection(&m_csObjMap);
  m_initialized = true;
  m_pObjMap = map;
  m_hInst = instance;
  g_module = this;
  return S_OK;
}

void CComModule::Term() {
  if (!m_initialized) return;
  for (ObjectMapEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (entry->pCF) {
      IUnknown* factory = entry->pCF;
      entry->pCF = nullptr;
      factory->Release();
    }
  }
  DeleteCriticalSection(&m_csObjMap);
  m_initialized = false;
  if (g_module == this) g_module = nullptr;
}

HRESULT CComModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (ObjectMapEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (!IsEqualCLSID(*entry->pclsid, rclsid)) continue;
    if (!entry->pCF) {
      EnterCriticalSection(&m_csObjMap);
      HRESULT hr = S_OK;
      if (!entry->pCF) {
        hr = entry->pfnGetClassObject(reinterpret_cast<void*>(entry->pfnCreateInstance),
                                      IID_IUnknown, reinterpret_cast<void**>(&entry->pCF));
      }
      LeaveCriticalSection(&m_csObjMap);
      if (FAILED(hr)) return hr;
    }
    return entry->pCF->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComModule::RegisterServer() {
  for (ObjectMapEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    HRESULT hr = entry->pfnUpdateRegistry(TRUE);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CComModule::UnregisterServer() {
  for (ObjectMapEntry* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    HRESULT hr = entry->pfnUpdateRegistry(FALSE);
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
