#include "shellext/item_paths.h"

#include <shlobj.h>

#include <cstring>

#include "common/owners.h"

namespace {

// Where the user's folders (Desktop, Documents, Downloads...) are: written when one is moved.
const wchar_t kPlacesKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

FILETIME PlacesWritten() {
  FILETIME written = {};
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kPlacesKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return written;
  UniqueKey owner(key);
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, &written) != ERROR_SUCCESS)
    written = {};
  return written;
}

// Whether the first item of `list` is This PC.
bool StartsAtThisPc(PCIDLIST_ABSOLUTE list) {
  static const std::string this_pc = [] {
    PIDLIST_ABSOLUTE drives = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives)) || !drives)
      return std::string();
    PidlPtr owner(drives);
    return std::string(reinterpret_cast<const char*>(drives), drives->mkid.cb);
  }();
  return !this_pc.empty() && list->mkid.cb == this_pc.size() &&
         std::memcmp(list, this_pc.data(), this_pc.size()) == 0;
}

// Whether the bytes of `block` from `offset` on hold a whole ID list, its end marker included.
bool HoldsIdList(const char* block, size_t size, size_t offset) {
  for (;;) {
    if (offset > size || size - offset < sizeof(USHORT)) return false;
    USHORT item = 0;
    std::memcpy(&item, block + offset, sizeof(item));
    if (item == 0) return true;
    if (item < sizeof(USHORT)) return false;
    offset += item;
  }
}

}  // namespace

PIDLIST_ABSOLUTE OneItemOfIdListArray(const void* block, size_t size) {
  const char* bytes = static_cast<const char*>(block);
  UINT count = 0, offsets[2] = {};
  if (!block || size < sizeof(count) + sizeof(offsets)) return nullptr;
  std::memcpy(&count, bytes, sizeof(count));
  std::memcpy(offsets, bytes + sizeof(count), sizeof(offsets));
  if (count != 1 || !HoldsIdList(bytes, size, offsets[0]) || !HoldsIdList(bytes, size, offsets[1]))
    return nullptr;
  return ILCombine(reinterpret_cast<PCIDLIST_ABSOLUTE>(bytes + offsets[0]),
                   reinterpret_cast<PCUIDLIST_RELATIVE>(bytes + offsets[1]));
}

ItemPaths& ItemPaths::Instance() {
  static ItemPaths paths;
  return paths;
}

std::wstring ItemPaths::AskTheShell(PCIDLIST_ABSOLUTE list) {
  wchar_t path[kLongest] = {};
  return SHGetPathFromIDListEx(list, path, kLongest, GPFIDL_DEFAULT) ? path : L"";
}

std::wstring ItemPaths::PathOf(PCIDLIST_ABSOLUTE list, const Ask& ask) {
  if (!list) return L"";
  if (!StartsAtThisPc(list)) return ask(list);
  const std::string key(reinterpret_cast<const char*>(list), ILGetSize(list));
  const FILETIME places = PlacesWritten();
  {
    ExclusiveLock hold(&lock_);
    if (CompareFileTime(&places, &places_written_) != 0) {
      paths_.Clear();
      places_written_ = places;
    }
    if (const std::wstring* kept = paths_.Find(key)) return *kept;
  }
  std::wstring path = ask(list);
  if (path.empty()) return path;  // asked again next time: the item may be reachable then
  ExclusiveLock hold(&lock_);
  if (CompareFileTime(&places, &places_written_) == 0) paths_.Keep(key, path);
  return path;
}

size_t ItemPaths::kept() const {
  ExclusiveLock hold(&lock_);
  return paths_.size();
}
