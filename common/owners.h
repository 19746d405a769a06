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

// A kernel object: null and INVALID_HANDLE_VALUE both mean none.
struct KernelHandle {
  using Value = HANDLE;
  static HANDLE Empty() { return nullptr; }
  static bool Held(HANDLE value) { return value && value != INVALID_HANDLE_VALUE; }
  static void Release(HANDLE value) { CloseHandle(value); }
};

using ScopedHandle = Owned<KernelHandle>;
using UniqueIcon = Owned<HeldUnlessNull<HICON, &DestroyIcon>>;
using UniqueBitmap = Owned<HeldUnlessNull<HBITMAP, &DeleteObject>>;
using UniqueMenu = Owned<HeldUnlessNull<HMENU, &DestroyMenu>>;
using UniqueKey = Owned<HeldUnlessNull<HKEY, &RegCloseKey>>;
using PidlPtr = Owned<HeldUnlessNull<PIDLIST_ABSOLUTE, &ILFree>>;
// Memory the system allocated with LocalAlloc (CommandLineToArgvW's array).
template <class T>
using LocalMemory = Owned<HeldUnlessNull<T, &LocalFree>>;

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
