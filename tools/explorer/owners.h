// Owners for the stand-in side: one COM reference, one item ID list, one kernel handle.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <utility>

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    return p_->QueryInterface(iid, out->put_void());
  }

 private:
  T* p_ = nullptr;
};

class PidlPtr {
 public:
  explicit PidlPtr(PIDLIST_ABSOLUTE p = nullptr) : p_(p) {}
  ~PidlPtr() { ILFree(p_); }
  PidlPtr(const PidlPtr&) = delete;
  PidlPtr& operator=(const PidlPtr&) = delete;
  PidlPtr(PidlPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  PIDLIST_ABSOLUTE get() const { return p_; }

 private:
  PIDLIST_ABSOLUTE p_;
};

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

class UniqueMenu {
 public:
  explicit UniqueMenu(HMENU menu = nullptr) : menu_(menu) {}
  ~UniqueMenu() { reset(); }
  UniqueMenu(const UniqueMenu&) = delete;
  UniqueMenu& operator=(const UniqueMenu&) = delete;
  HMENU get() const { return menu_; }
  HMENU release() { return std::exchange(menu_, nullptr); }
  void reset(HMENU menu = nullptr) {
    if (menu_) DestroyMenu(menu_);
    menu_ = menu;
  }

 private:
  HMENU menu_;
};
