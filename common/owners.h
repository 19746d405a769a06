// Owners of what the system hands out: each holds one value and makes the one call that
// releases it, on every path. Shared by the module, the companion, the tools and the tests.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <utility>

// A value and the call that releases it. `Traits` says what the value is, which value means
// none, which values are held, and how one is released.
template <class Traits>
class Owned {
 public:
  using Value = typename Traits::Value;
  explicit Owned(Value value = Traits::Empty()) : value_(value) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : value_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Value get() const { return value_; }
  bool valid() const { return Traits::Held(value_); }
  explicit operator bool() const { return valid(); }
  Value release() { return std::exchange(value_, Traits::Empty()); }
  void reset(Value value = Traits::Empty()) {
    if (Traits::Held(value_)) Traits::Release(value_);
    value_ = value;
  }

 private:
  Value value_;
};

// A value that is held unless null, released by `Releaser`.
template <class T, auto Releaser>
struct HeldUnlessNull {
  using Value = T;
  static T Empty() { return nullptr; }
  static bool Held(T value) { return value != nullptr; }
  static void Release(T value) { Releaser(value); }
};

// A handle for which null and INVALID_HANDLE_VALUE both mean none.
template <auto Releaser>
struct HeldUnlessInvalid {
  using Value = HANDLE;
  static HANDLE Empty() { return nullptr; }
  static bool Held(HANDLE value) { return value && value != INVALID_HANDLE_VALUE; }
  static void Release(HANDLE value) { Releaser(value); }
};

using ScopedHandle = Owned<HeldUnlessInvalid<&CloseHandle>>;  // a kernel object
using UniqueSearch = Owned<HeldUnlessInvalid<&FindClose>>;    // begun by FindFirstFileW
using UniqueIcon = Owned<HeldUnlessNull<HICON, &DestroyIcon>>;
using UniqueBitmap = Owned<HeldUnlessNull<HBITMAP, &DeleteObject>>;
using UniqueMenu = Owned<HeldUnlessNull<HMENU, &DestroyMenu>>;
using UniqueDc = Owned<HeldUnlessNull<HDC, &DeleteDC>>;  // a memory device context
using UniqueKey = Owned<HeldUnlessNull<HKEY, &RegCloseKey>>;
using PidlPtr = Owned<HeldUnlessNull<PIDLIST_ABSOLUTE, &ILFree>>;
// Memory the system allocated with LocalAlloc (CommandLineToArgvW's array).
template <class T>
using LocalMemory = Owned<HeldUnlessNull<T, &LocalFree>>;

// One counted reference to a COM object. Made from a pointer it takes a reference of its own;
// put() hands out the slot for an out parameter, releasing what was held first.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }
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
  T* Detach() { return std::exchange(p_, nullptr); }
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    return p_->QueryInterface(iid, out->put_void());
  }

 private:
  T* p_ = nullptr;
};

// Selects an object into a device context and puts the previous one back at the end.
class DcSelection {
 public:
  DcSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~DcSelection() {
    if (ok()) SelectObject(dc_, previous_);
  }
  DcSelection(const DcSelection&) = delete;
  DcSelection& operator=(const DcSelection&) = delete;
  bool ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A C runtime stream opened by its wide path (any characters, whatever the ANSI code page).
class FileStream {
 public:
  FileStream(const std::wstring& path, const wchar_t* mode) : file_(_wfopen(path.c_str(), mode)) {}
  ~FileStream() { close(); }
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  FILE* get() const { return file_; }
  // False when the stream could not be flushed and closed.
  bool close() {
    if (!file_) return true;
    bool ok = fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

 private:
  FILE* file_;
};

// Holds a slim reader/writer lock exclusively for its lifetime.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK* lock_;
};
