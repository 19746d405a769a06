// IUnknown for a test object of one interface, counted; the last Release deletes it.
#pragma once

#include <windows.h>
#include <unknwn.h>

template <class Interface>
class Unknown : public Interface {
 public:
  explicit Unknown(REFIID iid) : iid_(iid) {}
  virtual ~Unknown() = default;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != iid_) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    this->AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  long references() const { return references_; }  // for tests that count them
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

 private:
  IID iid_;
  LONG references_ = 1;
};
