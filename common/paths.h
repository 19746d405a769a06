// Questions asked of paths everywhere: what a path names, whether two paths are written the same
// way, and the stamp that tells one version of a file from the next.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// A folder (or a link to one) is there.
bool IsFolder(const std::wstring& path);
// Something that is not a folder is there.
bool IsFile(const std::wstring& path);
// GetDriveTypeW's answer for a drive's root ("C:\\"): from the process's device map without any
// I/O, as GetDriveTypeW takes it; where the map has none (Wine keeps none), from the volume's
// device information, which tells remote, removable and fixed disks apart; DRIVE_UNKNOWN when the
// root does not open. GetDriveTypeW would then ask Wine's mount manager, a round trip to another
// process, of every local disk.
UINT DriveTypeOfRoot(const wchar_t* root);
// The same text but for letter case, as the file system compares names.
bool SamePath(std::wstring_view a, std::wstring_view b);

// Identifies one version of a file: a changed file has another write time or size.
struct FileStamp {
  ULONGLONG write_time = 0;
  ULONGLONG size = 0;
  bool operator==(const FileStamp& other) const {
    return write_time == other.write_time && size == other.size;
  }
};

// The system's time now, in the units of FileStamp::write_time (100 ns since 1601).
ULONGLONG FileTimeNow();

// False when `path` names no file (nothing, or a folder).
bool ReadFileStamp(const std::wstring& path, FileStamp* stamp);
// A folder's write time, which changes when an entry is made, removed or renamed in it (on NTFS
// and ReFS); false when `path` names no folder.
bool ReadFolderStamp(const std::wstring& path, FileStamp* stamp);
