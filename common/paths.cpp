#include "common/paths.h"

#include <winioctl.h>
#include <winternl.h>

#include "common/owners.h"

namespace {

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

}  // namespace

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

namespace {

ULONGLONG FileTimeValue(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool ReadStamp(const std::wstring& path, bool folder, FileStamp* stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder)
    return false;
  stamp->write_time = FileTimeValue(data.ftLastWriteTime);
  stamp->size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace

bool ReadFileStamp(const std::wstring& path, FileStamp* stamp) {
  return ReadStamp(path, false, stamp);
}

bool ReadFolderStamp(const std::wstring& path, FileStamp* stamp) {
  return ReadStamp(path, true, stamp);
}

ULONGLONG FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeValue(now);
}

namespace {

// What the system knows of each drive letter, without asking any drive: the query half of
// PROCESS_DEVICEMAP_INFORMATION (ntddk.h), whose types are GetDriveTypeW's.
struct DeviceMap {
  ULONG drive_map;
  UCHAR drive_type[32];
};
static_assert(sizeof(DeviceMap) == 36, "the size the system takes for this query");
constexpr PROCESSINFOCLASS kProcessDeviceMap = static_cast<PROCESSINFOCLASS>(23);

UINT DriveTypeFromDeviceMap(wchar_t letter) {
  DeviceMap map = {};
  const int index = (letter | 0x20) - L'a';
  if (index < 0 || index >= 26 ||
      !NT_SUCCESS(NtQueryInformationProcess(GetCurrentProcess(), kProcessDeviceMap, &map,
                                            sizeof(map), nullptr)) ||
      !(map.drive_map & (1u << index)))
    return DRIVE_UNKNOWN;
  const UINT type = map.drive_type[index];
  return type >= DRIVE_REMOVABLE && type <= DRIVE_RAMDISK ? type : DRIVE_UNKNOWN;
}

}  // namespace

UINT DriveTypeOfRoot(const wchar_t* root) {
  if (const UINT mapped = DriveTypeFromDeviceMap(root[0]); mapped != DRIVE_UNKNOWN) return mapped;
  constexpr ULONG kRemovableMedia = 0x1, kRemoteDevice = 0x10;  // the device's characteristics
  ScopedHandle handle(CreateFileW(root, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  IO_STATUS_BLOCK io = {};
  FILE_FS_DEVICE_INFORMATION device = {};
  if (!handle.valid() || !NT_SUCCESS(NtQueryVolumeInformationFile(
                             handle.get(), &io, &device, sizeof(device), FileFsDeviceInformation)))
    return DRIVE_UNKNOWN;
  switch (device.DeviceType) {
    case FILE_DEVICE_NETWORK_FILE_SYSTEM:
      return DRIVE_REMOTE;
    case FILE_DEVICE_CD_ROM_FILE_SYSTEM:
      return DRIVE_CDROM;
    case FILE_DEVICE_VIRTUAL_DISK:
      return DRIVE_RAMDISK;
    case FILE_DEVICE_DISK_FILE_SYSTEM:
      return (device.Characteristics & kRemoteDevice)     ? DRIVE_REMOTE
             : (device.Characteristics & kRemovableMedia) ? DRIVE_REMOVABLE
                                                          : DRIVE_FIXED;
    default:
      return DRIVE_UNKNOWN;
  }
}
