// Owners of the kernel objects and buffers the command routines open.
#pragma once

#include <windows.h>

#include <utility>

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// Memory the system allocated with LocalAlloc (CommandLineToArgvW's array).
template <class T>
class LocalMemory {
 public:
  explicit LocalMemory(T pointer) : pointer_(pointer) {}
  ~LocalMemory() {
    if (pointer_) LocalFree(pointer_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  T get() const { return pointer_; }

 private:
  T pointer_;
};
