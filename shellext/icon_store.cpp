#include "shellext/icon_store.h"

#include "common/owners.h"

IconStore& IconStore::Instance() {
  static IconStore store;  // what is left is deleted when the module unloads
  return store;
}

IconStore::~IconStore() {
  for (const auto& held : references_) DeleteObject(held.first);
}

HBITMAP IconStore::Share(HBITMAP bitmap) {
  if (bitmap) ++references_[bitmap];  // a file without an icon has none to share
  return bitmap;
}

void IconStore::Drop(HBITMAP bitmap) {
  auto held = references_.find(bitmap);
  if (held == references_.end() || --held->second != 0) return;
  DeleteObject(bitmap);
  references_.erase(held);
}

HBITMAP IconStore::FileBitmap(const std::wstring& path,
                              const std::function<HBITMAP(const FileStamp&)>& make) {
  const ULONGLONG now = GetTickCount64();
  {
    ExclusiveLock hold(&lock_);
    const FileEntry* found = files_.Find(path);
    if (found && now - found->checked_at < kRecheckMs) return Share(found->bitmap);
  }
  FileStamp stamp;
  if (!ReadFileStamp(path, &stamp)) return nullptr;
  {
    ExclusiveLock hold(&lock_);
    FileEntry* found = files_.Find(path);
    if (found && found->stamp == stamp) {
      found->checked_at = now;
      return Share(found->bitmap);
    }
  }
  // Made without the lock: reading an icon may take milliseconds. A file without one is kept as
  // such too, so that it is not read again on every right-click while it stays the same.
  HBITMAP made = make(stamp);
  ExclusiveLock hold(&lock_);
  if (made) references_[made] = 1;  // the caller's
  KeepFile(path, stamp, now, made);
  return made;
}

void IconStore::KeepFile(const std::wstring& path, const FileStamp& stamp, ULONGLONG now,
                         HBITMAP made) {
  if (const FileEntry* changed = files_.Find(path)) Drop(changed->bitmap);
  if (auto pushed_out = files_.Keep(path, {stamp, now, Share(made)})) Drop(pushed_out->bitmap);
}

HBITMAP IconStore::ResourceBitmap(UINT key, const std::function<HBITMAP()>& make) {
  {
    ExclusiveLock hold(&lock_);
    auto found = resources_.find(key);
    if (found != resources_.end()) return Share(found->second);
  }
  HBITMAP made = make();
  if (!made) return nullptr;
  ExclusiveLock hold(&lock_);
  references_[made] = 1;  // the caller's
  HBITMAP& kept = resources_[key];
  if (kept) Drop(kept);  // made twice at once by two threads
  kept = Share(made);
  return made;
}

void IconStore::Release(HBITMAP bitmap) {
  if (!bitmap) return;
  ExclusiveLock hold(&lock_);
  Drop(bitmap);
}

void IconStore::Clear() {
  ExclusiveLock hold(&lock_);
  files_.ForEach([this](const std::wstring&, const FileEntry& entry) { Drop(entry.bitmap); });
  for (const auto& entry : resources_) Drop(entry.second);
  files_.Clear();
  resources_.clear();
}
