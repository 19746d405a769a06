// Menu bitmaps shared by every handler object of the process: each icon (each version of its
// file) is turned into a bitmap once, and the bitmap is handed to every menu that shows it.
// A bitmap is counted: the store holds one reference while it keeps the bitmap for later menus,
// and each handler one for the bitmaps its menu shows; the last release deletes it. So a bitmap
// replaced because its file changed, or pushed out of the store, goes as soon as no live menu
// shows it, and never before. A file version without an icon is kept as such (null), and a
// file that is not there is not kept.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "common/paths.h"
#include "common/recent_map.h"

class IconStore {
 public:
  // A file's stamp is read again at most this often: a changed icon shows on the first
  // right-click made this long after the change.
  static constexpr ULONGLONG kRecheckMs = 500;
  // The files whose bitmaps the store keeps for later menus; the least recently used goes first.
  static constexpr size_t kFileLimit = 128;

  static IconStore& Instance();

  // A reference to the bitmap for the file as it is now, made by `make` (given the version) when
  // this version was not seen yet; null when it has none. Given back with Release.
  HBITMAP FileBitmap(const std::wstring& path,
                     const std::function<HBITMAP(const FileStamp&)>& make);
  // A reference to the bitmap kept under `key`, made by `make` the first time.
  HBITMAP ResourceBitmap(UINT key, const std::function<HBITMAP()>& make);
  void Release(HBITMAP bitmap);
  // Gives up the store's own references; bitmaps that menus still show stay until released.
  void Clear();

 private:
  struct FileEntry {
    FileStamp stamp;
    ULONGLONG checked_at = 0;
    HBITMAP bitmap = nullptr;
  };
  IconStore() = default;
  ~IconStore();
  IconStore(const IconStore&) = delete;
  IconStore& operator=(const IconStore&) = delete;
  // Both with the lock held.
  HBITMAP Share(HBITMAP bitmap);
  void Drop(HBITMAP bitmap);
  void KeepFile(const std::wstring& path, const FileStamp& stamp, ULONGLONG now, HBITMAP made);

  SRWLOCK lock_ = SRWLOCK_INIT;  // handlers of several windows run on several threads
  RecentMap<std::wstring, FileEntry> files_{kFileLimit};  // the least recently used goes first
  std::map<UINT, HBITMAP> resources_;
  std::map<HBITMAP, unsigned> references_;  // every bitmap alive, and who holds it
};
