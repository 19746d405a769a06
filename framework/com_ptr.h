// One counted reference to a COM object, released with its owner (ATL's CComPtr, in part).
#pragma once

#include <unknwn.h>

#include <utility>

namespace comfw {

template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  explicit CComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.p_) {}
  CComPtr(CComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  CComPtr& operator=(CComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~CComPtr() {
    if (p_) p_->Release();
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For an out parameter: releases what is held first.
  T** put() {
    *this = CComPtr();
    return &p_;
  }
  T* Detach() { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

}  // namespace comfw
