// Menu bitmaps kept on disk between Explorer processes, so that the first right-click after a
// sign-in draws the interpreters' icons from one small file instead of extracting each from its
// program (milliseconds apiece). One file per user, %LOCALAPPDATA%\Velmar\menu-icons.bin: each
// entry is a file's path, its stamp and the pixels of its bitmap at one size. An entry counts only
// for the same stamp and size; a file that is damaged or of another version counts as empty.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/recent_map.h"

class SavedIcons {
 public:
  static constexpr size_t kEntryLimit = 128;  // as many as the process's store keeps
  static constexpr LONG kSideLimit = 256;

  static SavedIcons& Instance();   // the user's file, or nothing without %LOCALAPPDATA%
  static std::wstring UserFile();  // empty without %LOCALAPPDATA%
  explicit SavedIcons(std::wstring file);
  SavedIcons(const SavedIcons&) = delete;
  SavedIcons& operator=(const SavedIcons&) = delete;

  // The 32-bit pixels (bottom-up rows) saved for this version of `path` at `size`; false when
  // there are none.
  bool Pixels(const std::wstring& path, const FileStamp& stamp, SIZE size,
              std::vector<uint32_t>* pixels);
  // Remembers the pixels of `bitmap` (a 32-bit DIB section) for this version of `path`.
  void Keep(const std::wstring& path, const FileStamp& stamp, HBITMAP bitmap);
  // Writes the file when something was kept since it was read: a whole new file, put in place of
  // the old one, so that a reader never sees half of one.
  void Save();

 private:
  struct Entry {
    FileStamp stamp;
    SIZE size;
    std::vector<uint32_t> pixels;
  };
  void LoadOnce();  // with the lock held

  SRWLOCK lock_ = SRWLOCK_INIT;
  std::wstring file_;
  bool loaded_ = false;
  bool changed_ = false;
  RecentMap<std::wstring, Entry> entries_{kEntryLimit};
};
