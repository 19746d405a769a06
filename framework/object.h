// COM object support: reference counting roots, interface maps, the object wrappers that
// implement IUnknown (plain, aggregated, cached), creators, the class factory and the glue that
// ties a class to its class identifier.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <climits>
#include <new>

#include "framework/fault_point.h"
#include "framework/no_throw.h"
#include "framework/module.h"

namespace comfw {

struct CComSingleThreadModel {
  static ULONG Increment(volatile LONG* p) { return static_cast<ULONG>(++(*p)); }
  static ULONG Decrement(volatile LONG* p) { return static_cast<ULONG>(--(*p)); }
};

struct CComMultiThreadModel {
  static ULONG Increment(volatile LONG* p) { return static_cast<ULONG>(InterlockedIncrement(p)); }
  static ULONG Decrement(volatile LONG* p) { return static_cast<ULONG>(InterlockedDecrement(p)); }
};

// One row of an interface map: the interface identifier and the offset of the base class
// that implements it. A row with a null identifier ends the map.
struct InterfaceMapEntry {
  const IID* piid;
  DWORD_PTR offset;
};

class CComObjectRootBase {
 public:
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}
  void SetVoid(void*) {}

  // Answers from the map; IID_IUnknown is answered with the first row.
  static HRESULT InternalQueryInterface(void* pThis, const InterfaceMapEntry* entries, REFIID iid,
                                        void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const InterfaceMapEntry* e = entries; e->piid; ++e) {
      if (IsEqualIID(iid, *e->piid) || (e == entries && IsEqualIID(iid, IID_IUnknown))) {
        IUnknown* unknown = reinterpret_cast<IUnknown*>(static_cast<char*>(pThis) + e->offset);
        unknown->AddRef();
        *ppv = unknown;
        return S_OK;
      }
    }
    return E_NOINTERFACE;
  }

  ULONG OuterAddRef() { return m_pOuterUnknown->AddRef(); }
  ULONG OuterRelease() { return m_pOuterUnknown->Release(); }
  HRESULT OuterQueryInterface(REFIID iid, void** ppv) {
    return m_pOuterUnknown->QueryInterface(iid, ppv);
  }

 protected:
  volatile LONG m_dwRef = 0;
  IUnknown* m_pOuterUnknown = nullptr;
};

template <class ThreadModelT>
class CComObjectRootEx : public CComObjectRootBase {
 public:
  typedef ThreadModelT ThreadModel;
  ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
  ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
};

}  // namespace comfw

// Offset of base class `base` inside `derived` (computed on a dummy, never dereferenced).
#define COMFW_OFFSET_OF_CLASS(base, derived) \
  (reinterpret_cast<DWORD_PTR>(static_cast<base*>(reinterpret_cast<derived*>(0x1000))) - 0x1000)

#define COMFW_BEGIN_COM_MAP(cls)                                                                 \
 public:                                                                                         \
  typedef cls ComMapClass;                                                                       \
  HRESULT _InternalQueryInterface(REFIID iid, void** ppv) {                                      \
    return InternalQueryInterface(this, _GetEntries(), iid, ppv);                                \
  }                                                                                              \
  IUnknown* GetUnknown() {                                                                       \
    return reinterpret_cast<IUnknown*>(reinterpret_cast<char*>(this) + _GetEntries()[0].offset); \
  }                                                                                              \
  static const ::comfw::InterfaceMapEntry* _GetEntries() {                                       \
    static const ::comfw::InterfaceMapEntry entries[] = {
#define COMFW_INTERFACE_ENTRY_IID(iid, itf) {&iid, COMFW_OFFSET_OF_CLASS(itf, ComMapClass)},
#define COMFW_END_COM_MAP() \
  { nullptr, 0 }            \
  }                         \
  ;                         \
  return entries;           \
  }

namespace comfw {

// The object as a client sees it: IUnknown on the reference count of `Base`; a live object
// holds one module lock.
template <class Base>
class CComObject : public Base {
 public:
  explicit CComObject(void* = nullptr) { g_module->Lock(); }
  virtual ~CComObject() {
    this->m_dwRef = -(LONG_MAX / 2);
    this->FinalRelease();
    g_module->Unlock();
  }
  STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override {
    ULONG count = this->InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    return this->_InternalQueryInterface(iid, ppv);
  }

  // Makes an object with a reference count of 0.
  static HRESULT CreateInstance(CComObject** pp) {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    CComObject* object = new (std::nothrow) CComObject();
    if (!object) return E_OUTOFMEMORY;
    object->InternalAddRef();
    HRESULT hr = object->FinalConstruct();
    object->InternalRelease();
    if (FAILED(hr)) {
      delete object;
      return hr;
    }
    *pp = object;
    return S_OK;
  }
};

// The inner part of an aggregated object: its IUnknown delegates to the outer object.
template <class Base>
class CComContainedObject : public Base {
 public:
  explicit CComContainedObject(IUnknown* outer) { this->m_pOuterUnknown = outer; }
  STDMETHOD_(ULONG, AddRef)() override { return this->OuterAddRef(); }
  STDMETHOD_(ULONG, Release)() override { return this->OuterRelease(); }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    return this->OuterQueryInterface(iid, ppv);
  }
};

// An object aggregated by an outer object: this IUnknown is the non-delegating one that the
// outer object holds; the interfaces of `Base` delegate to the outer object.
template <class Base>
class CComAggObject : public IUnknown {
 public:
  explicit CComAggObject(void* outer) : m_contained(static_cast<IUnknown*>(outer)) {
    g_module->Lock();
  }
  virtual ~CComAggObject() {
    m_dwRef = -(LONG_MAX / 2);
    m_contained.FinalRelease();
    g_module->Unlock();
  }
  CComAggObject(const CComAggObject&) = delete;
  CComAggObject& operator=(const CComAggObject&) = delete;

  HRESULT FinalConstruct() { return m_contained.FinalConstruct(); }
  void SetVoid(void*) {}
  ULONG InternalAddRef() { return Base::ThreadModel::Increment(&m_dwRef); }
  ULONG InternalRelease() { return Base::ThreadModel::Decrement(&m_dwRef); }

  STDMETHOD_(ULONG, AddRef)() override { return InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override {
    ULONG count = InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      AddRef();
      *ppv = static_cast<IUnknown*>(this);
      return S_OK;
    }
    return m_contained._InternalQueryInterface(iid, ppv);
  }

 private:
  volatile LONG m_dwRef = 0;
  CComContainedObject<Base> m_contained;
};

// A class factory kept by the module: a client's reference (count 2 and above) locks the
// module, the module's own reference (count 1) does not.
template <class Base>
class CComObjectCached : public Base {
 public:
  explicit CComObjectCached(void* = nullptr) {}
  virtual ~CComObjectCached() {
    this->m_dwRef = -(LONG_MAX / 2);
    this->FinalRelease();
  }
  STDMETHOD_(ULONG, AddRef)() override {
    ULONG count = this->InternalAddRef();
    if (count == 2) g_module->Lock();
    return count;
  }
  STDMETHOD_(ULONG, Release)() override {
    ULONG count = this->InternalRelease();
    if (count == 0)
      delete this;
    else if (count == 1)
      g_module->Unlock();
    return count;
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    return this->_InternalQueryInterface(iid, ppv);
  }
};

// Makes a T (a wrapper above), runs FinalConstruct and queries it; a failed step deletes it.
template <class T>
class CComCreator {
 public:
  static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return NoThrow([&]() -> HRESULT {
      VELMAR_FAULT_POINT(L"CreateInstance");
      T* object = new (std::nothrow) T(pv);
      if (!object) return E_OUTOFMEMORY;
      object->SetVoid(pv);
      object->InternalAddRef();
      HRESULT hr = object->FinalConstruct();
      object->InternalRelease();
      if (SUCCEEDED(hr)) hr = object->QueryInterface(riid, ppv);
      if (FAILED(hr)) delete object;
      return hr;
    });
  }
};

// Chooses the plain creator without an outer object and the aggregating one with.
template <class Plain, class Aggregated>
class CComCreator2 {
 public:
  static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, void** ppv) {
    return pv ? Aggregated::CreateInstance(pv, riid, ppv) : Plain::CreateInstance(pv, riid, ppv);
  }
};

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
 public:
  COMFW_BEGIN_COM_MAP(CComClassFactory)
  COMFW_INTERFACE_ENTRY_IID(IID_IClassFactory, IClassFactory)
  COMFW_END_COM_MAP()

  void SetVoid(void* pv) { m_pfnCreateInstance = reinterpret_cast<CreatorFunc>(pv); }

  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return m_pfnCreateInstance(outer, riid, ppv);
  }
  STDMETHOD(LockServer)(BOOL lock) override {
    if (lock)
      g_module->Lock();
    else
      g_module->Unlock();
    return S_OK;
  }

 private:
  CreatorFunc m_pfnCreateInstance = nullptr;
};

template <class T, const CLSID* pclsid>
class CComCoClass {
 public:
  typedef CComCreator2<CComCreator<CComObject<T>>, CComCreator<CComAggObject<T>>> _CreatorClass;
  typedef CComCreator<CComObjectCached<CComClassFactory>> _ClassFactoryCreatorClass;
  static const CLSID& WINAPI GetObjectCLSID() { return *pclsid; }
};

}  // namespace comfw
