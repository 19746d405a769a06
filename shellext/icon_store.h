// Icon pixels shared by every handler object of the process: reading an icon and turning it
// into premultiplied 32-bit pixels is done once per icon (per version of its file); each
// handler still makes and owns its own bitmaps from them. Failures are not kept.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What a menu bitmap holds: rows bottom-up, as in the bitmap.
struct IconPixels {
  LONG width = 0;
  LONG height = 0;
  std::vector<uint32_t> pixels;
};

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
  static IconStore& Instance();

  bool FindFileIcon(const std::wstring& path, const FileStamp& stamp, IconPixels* pixels);
  void KeepFileIcon(const std::wstring& path, const FileStamp& stamp, const IconPixels& pixels);
  bool FindResourceIcon(UINT id, IconPixels* pixels);
  void KeepResourceIcon(UINT id, const IconPixels& pixels);

 private:
  IconStore() = default;
  SRWLOCK lock_ = SRWLOCK_INIT;  // handlers of several windows run on several threads
  std::map<std::wstring, std::pair<FileStamp, IconPixels>> files_;
  std::map<UINT, IconPixels> resources_;
};
