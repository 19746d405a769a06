// COM object support (ATL's object classes, in the part the module uses): reference counting
// roots, interface maps, the object wrappers that implement IUnknown (plain, aggregated, cached
// factory), their creators, the class factory and the glue that ties a class to its class id.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

#include "common/fault_point.h"
#include "common/no_throw.h"
#include "framework/module.h"

namespace comfw {

// ATL's thread models: a plain count for apartment objects, an atomic one for the factory.
struct CComSingleThreadModel {
  static ULONG Increment(volatile LONG* p) { return static_cast<ULONG>(++(*p)); }
  static ULONG Decrement(volatile LONG* p) { return static_cast<ULONG>(--(*p)); }
};
struct CComMultiThreadModel {
  static ULONG Increment(volatile LONG* p) { return static_cast<ULONG>(InterlockedIncrement(p)); }
  static ULONG Decrement(volatile LONG* p) { return static_cast<ULONG>(InterlockedDecrement(p)); }
};

// One row of an interface map: the interface id and the offset of the base class that
// implements it. A row with a null id ends the map.
struct InterfaceMapEntry {
  const IID* piid;
  DWORD_PTR offset;
};

// ATL's CComObjectRootEx: the reference count, the outer object when aggregated, and the
// interface map's lookup (IID_IUnknown is answered with the first row).
template <class ThreadModelT>
class CComObjectRootEx {
 public:
  typedef ThreadModelT ThreadModel;
  ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
  ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
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

 protected:
  volatile LONG m_dwRef = 0;
  IUnknown* m_pOuterUnknown = nullptr;
};

}  // namespace comfw

// Offset of base class `base` inside `derived` (computed on a dummy, never dereferenced).
#define COMFW_OFFSET_OF_CLASS(base, derived) \
  (reinterpret_cast<DWORD_PTR>(static_cast<base*>(reinterpret_cast<derived*>(0x1000))) - 0x1000)

#define COMFW_BEGIN_COM_MAP(cls)                                  \
 public:                                                          \
  typedef cls ComMapClass;                                        \
  HRESULT _InternalQueryInterface(REFIID iid, void** ppv) {       \
    return InternalQueryInterface(this, _GetEntries(), iid, ppv); \
  }                                                               \
  static const ::comfw::InterfaceMapEntry* _GetEntries() {        \
    static const ::comfw::InterfaceMapEntry entries[] = {
#define COMFW_INTERFACE_ENTRY_IID(iid, itf) {&iid, COMFW_OFFSET_OF_CLASS(itf, ComMapClass)},
#define COMFW_END_COM_MAP() \
  { nullptr, 0 }            \
  }                         \
  ;                         \
  return entries;           \
  }

namespace comfw {

// Release for an object that owns its reference count: the last release deletes it.
template <class T>
ULONG DeleteAtLastRelease(T* object) {
  ULONG count = object->InternalRelease();
  if (count == 0) delete object;
  return count;
}

// ATL's CComObject: IUnknown on the reference count of `Base`; a live object holds one module
// lock.
template <class Base>
class CComObject : public Base {
 public:
  explicit CComObject(void* = nullptr) { g_module->Lock(); }
  virtual ~CComObject() { g_module->Unlock(); }
  STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override { return DeleteAtLastRelease(this); }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    return this->_InternalQueryInterface(iid, ppv);
  }
  // Makes an object with a reference count of 0.
  static HRESULT CreateInstance(CComObject** pp) {
    *pp = new (std::nothrow) CComObject();
    return *pp ? S_OK : E_OUTOFMEMORY;
  }
};

// ATL's CComContainedObject: the inner part of an aggregated object, whose IUnknown delegates
// to the outer object.
template <class Base>
class CComContainedObject : public Base {
 public:
  explicit CComContainedObject(IUnknown* outer) { this->m_pOuterUnknown = outer; }
  STDMETHOD_(ULONG, AddRef)() override { return this->m_pOuterUnknown->AddRef(); }
  STDMETHOD_(ULONG, Release)() override { return this->m_pOuterUnknown->Release(); }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    return this->m_pOuterUnknown->QueryInterface(iid, ppv);
  }
};

// ATL's CComAggObject: the non-delegating IUnknown that an outer object holds; the interfaces
// of `Base` delegate to the outer object. A live object holds one module lock.
template <class Base>
class CComAggObject : public IUnknown, public CComObjectRootEx<typename Base::ThreadModel> {
 public:
  explicit CComAggObject(void* outer) : m_contained(static_cast<IUnknown*>(outer)) {
    g_module->Lock();
  }
  virtual ~CComAggObject() { g_module->Unlock(); }
  STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override { return DeleteAtLastRelease(this); }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    if (!ppv || !IsEqualIID(iid, IID_IUnknown))
      return m_contained._InternalQueryInterface(iid, ppv);
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }

 private:
  CComContainedObject<Base> m_contained;
};

// ATL's CComObjectCached, for the class factory the module keeps: a client's reference (count 2
// and above) locks the module, the module's own reference (count 1) does not.
template <class Base>
class CComObjectCached : public Base {
 public:
  explicit CComObjectCached(void* creator) { this->SetCreator(creator); }
  virtual ~CComObjectCached() = default;
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

// ATL's CComCreator: makes a T (a wrapper above) for `pv` and queries it from a count of 0; a
// failed query deletes it.
template <class T>
struct CComCreator {
  static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return NoThrow([&]() -> HRESULT {
      VELMAR_FAULT_POINT(L"CreateInstance");
      T* object = new (std::nothrow) T(pv);
      if (!object) return E_OUTOFMEMORY;
      HRESULT hr = object->QueryInterface(riid, ppv);
      if (FAILED(hr)) delete object;
      return hr;
    });
  }
};

// ATL's CComCreator2: the plain creator without an outer object, the aggregating one with.
template <class Plain, class Aggregated>
struct CComCreator2 {
  static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, void** ppv) {
    return pv ? Aggregated::CreateInstance(pv, riid, ppv) : Plain::CreateInstance(pv, riid, ppv);
  }
};

// ATL's CComClassFactory: makes instances through the creator the object map gives it.
class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
 public:
  COMFW_BEGIN_COM_MAP(CComClassFactory)
  COMFW_INTERFACE_ENTRY_IID(IID_IClassFactory, IClassFactory)
  COMFW_END_COM_MAP()

  void SetCreator(void* pv) { m_pfnCreateInstance = reinterpret_cast<CreatorFunc>(pv); }
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return m_pfnCreateInstance(outer, riid, ppv);
  }
  STDMETHOD(LockServer)(BOOL lock) override {
    lock ? g_module->Lock() : g_module->Unlock();
    return S_OK;
  }

 private:
  CreatorFunc m_pfnCreateInstance = nullptr;
};

// ATL's CComCoClass: the creators that the object map takes for class T.
template <class T, const CLSID* pclsid>
struct CComCoClass {
  typedef CComCreator2<CComCreator<CComObject<T>>, CComCreator<CComAggObject<T>>> _CreatorClass;
  typedef CComCreator<CComObjectCached<CComClassFactory>> _ClassFactoryCreatorClass;
};

}  // namespace comfw
