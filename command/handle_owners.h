// Owners of the kernel objects, buffers and locks the module's routines hold.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
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
