#include "shellext/icon_store.h"

#include "command/handle_owners.h"

bool ReadFileStamp(const std::wstring& path, FileStamp* stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  stamp->write_time = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
  stamp->size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

IconStore& IconStore::Instance() {
  static IconStore store;  // what is left is deleted when the module unloads
  return store;
}

HBITMAP IconStore::FileBitmap(const std::wstring& path, const std::function<HBITMAP()>& make) {
  const ULONGLONG now = GetTickCount64();
  {
    ExclusiveLock hold(&lock_);
    auto found = files_.find(path);
    if (found != files_.end() && now - found->second.checked_at < kRecheckMs)
      return found->second.bitmap.get();
  }
  FileStamp stamp;
  if (!ReadFileStamp(path, &stamp)) return nullptr;
  {
    ExclusiveLock hold(&lock_);
    auto found = files_.find(path);
    if (found != files_.end() && found->second.stamp == stamp) {
      found->second.checked_at = now;
      return found->second.bitmap.get();
    }
  }
  // Made without the lock: reading an icon may take milliseconds.
  HBITMAP made = make();
  if (!made) return nullptr;
  ExclusiveLock hold(&lock_);
  FileEntry& entry = files_[path];
  if (entry.bitmap.get()) retired_.push_back(std::move(entry.bitmap));
  entry.stamp = stamp;
  entry.checked_at = now;
  entry.bitmap.reset(made);
  return made;
}

HBITMAP IconStore::ResourceBitmap(UINT key, const std::function<HBITMAP()>& make) {
  {
    ExclusiveLock hold(&lock_);
    auto found = resources_.find(key);
    if (found != resources_.end()) return found->second.get();
  }
  HBITMAP made = make();
  if (!made) return nullptr;
  ExclusiveLock hold(&lock_);
  UniqueBitmap& kept = resources_[key];
  if (kept.get()) retired_.push_back(std::move(kept));  // made twice at once by two threads
  kept.reset(made);
  return made;
}

void IconStore::Clear() {
  ExclusiveLock hold(&lock_);
  files_.clear();
  resources_.clear();
  retired_.clear();
}
