// Menu bitmaps shared by every handler object of the process: each icon (each version of its
// file) is turned into a bitmap once, and the bitmap is handed to every menu that shows it. The
// store owns them; they are deleted only when no handler is alive (so no menu a handler built
// can still show one): when the module is asked whether it can unload, and when it unloads. A
// bitmap replaced because its file changed is retired until then. Failures are not kept.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shellext/gdi_owners.h"

// Identifies one version of a file: a changed file has another write time or size.
struct FileStamp {
  ULONGLONG write_time = 0;
  ULONGLONG size = 0;
  bool operator==(const FileStamp& other) const {
    return write_time == other.write_time && size == other.size;
  }
};

bool ReadFileStamp(const std::wstring& path, FileStamp* stamp);

class IconStore {
 public:
  // A file's stamp is read again at most this often: a changed icon shows on the first
  // right-click made this long after the change.
  static constexpr ULONGLONG kRecheckMs = 500;

  static IconStore& Instance();

  // The bitmap for the file as it is now, made by `make` when there is none for this version.
  HBITMAP FileBitmap(const std::wstring& path, const std::function<HBITMAP()>& make);
  // The bitmap kept under `key`, made by `make` the first time.
  HBITMAP ResourceBitmap(UINT key, const std::function<HBITMAP()>& make);
  // Deletes every bitmap; only while no handler object is alive.
  void Clear();

 private:
  struct FileEntry {
    FileStamp stamp;
    ULONGLONG checked_at = 0;
    UniqueBitmap bitmap;
  };
  IconStore() = default;
  SRWLOCK lock_ = SRWLOCK_INIT;  // handlers of several windows run on several threads
  std::map<std::wstring, FileEntry> files_;
  std::map<UINT, UniqueBitmap> resources_;
  std::vector<UniqueBitmap> retired_;
};
