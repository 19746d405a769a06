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
  static IconStore store;  // released when the module unloads
  return store;
}

bool IconStore::FindFileIcon(const std::wstring& path, const FileStamp& stamp, IconPixels* pixels) {
  ExclusiveLock hold(&lock_);
  auto found = files_.find(path);
  if (found == files_.end() || !(found->second.first == stamp)) return false;
  *pixels = found->second.second;
  return true;
}

void IconStore::KeepFileIcon(const std::wstring& path, const FileStamp& stamp,
                             const IconPixels& pixels) {
  ExclusiveLock hold(&lock_);
  files_[path] = {stamp, pixels};
}

bool IconStore::FindResourceIcon(UINT id, IconPixels* pixels) {
  ExclusiveLock hold(&lock_);
  auto found = resources_.find(id);
  if (found == resources_.end()) return false;
  *pixels = found->second;
  return true;
}

void IconStore::KeepResourceIcon(UINT id, const IconPixels& pixels) {
  ExclusiveLock hold(&lock_);
  resources_[id] = pixels;
}
