#include "companion/folder_walk.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "common/owners.h"
#include "common/paths.h"

namespace {

HANDLE OpenFolder(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

constexpr DWORD kListAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;

bool IdentityOf(HANDLE handle, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) return false;
  *identity = {information.dwVolumeSerialNumber,
               (ULONGLONG(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
  return true;
}

bool Less(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

// What a folder holds; `volume` is the folder's own.
Listing List(HANDLE folder, const std::wstring& path, DWORD volume) {
  Listing listing;
  const std::wstring prefix = path.back() == L'\\' ? path : path + L"\\";
  // One listing call returns many entries, with their attributes: no file is opened per entry.
  constexpr DWORD kBufferBytes = 64 * 1024;
  std::unique_ptr<ULONGLONG[]> buffer(new ULONGLONG[kBufferBytes / sizeof(ULONGLONG)]);
  while (
      GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.get(), kBufferBytes)) {
    const BYTE* at = reinterpret_cast<const BYTE*>(buffer.get());
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        listing.files.push_back(name);
      else if (!(entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && name != L"." &&
               name != L"..")
        listing.folders.push_back(
            {prefix + name, {volume, static_cast<ULONGLONG>(entry->FileId.QuadPart)}});
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
  std::sort(listing.folders.begin(), listing.folders.end(),
            [](const Subfolder& a, const Subfolder& b) { return Less(a.path, b.path); });
  return listing;
}

struct SharedWork {
  size_t count;
  std::atomic<size_t> next;
  const std::function<void(size_t)>* work;
};

DWORD WINAPI TakeShare(void* parameter) {
  auto* shared = static_cast<SharedWork*>(parameter);
  for (size_t i; (i = shared->next++) < shared->count;) (*shared->work)(i);
  return 0;
}

}  // namespace

void InParallel(size_t count, const std::function<void(size_t)>& work) {
  constexpr size_t kHelpers = 3, kWorthHelpers = 32;
  SharedWork shared{count, {0}, &work};
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t helpers =
      count < kWorthHelpers ? 0 : std::min<size_t>(kHelpers, system.dwNumberOfProcessors - 1);
  ScopedHandle threads[kHelpers];
  for (size_t i = 0; i < helpers; ++i)
    threads[i].reset(CreateThread(nullptr, 0, TakeShare, &shared, 0, nullptr));
  TakeShare(&shared);  // a helper that could not start leaves its share here
  for (const ScopedHandle& thread : threads)
    if (thread.valid()) WaitForSingleObject(thread.get(), INFINITE);
}

std::wstring CleanPath(const std::wstring& path) {
  std::wstring clean;
  for (wchar_t c : path) {
    if (c == L'/') c = L'\\';
    if (c == L'\\' && clean.size() > 1 && clean.back() == L'\\') continue;
    clean += c;
  }
  while (clean.size() > 1 && clean.back() == L'\\' && !(clean.size() == 3 && clean[1] == L':'))
    clean.pop_back();
  return clean;
}

std::wstring UpperCase(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

bool IdentityOf(const std::wstring& path, Identity* identity) {
  ScopedHandle handle(OpenFolder(path, 0));
  return handle.valid() && IdentityOf(handle.get(), identity);
}

bool Listing::HasFolder(const wchar_t* name) const {
  for (const Subfolder& folder : folders) {
    const size_t separator = folder.path.find_last_of(L'\\');
    if (SamePath(std::wstring_view(folder.path).substr(separator + 1), name)) return true;
  }
  return false;
}

bool Listing::HasFile(const wchar_t* name) const {
  for (const std::wstring& file : files)
    if (SamePath(file, name)) return true;
  return false;
}

Listing FolderWalk::Enter(const std::wstring& root) {
  if (root.empty()) return {};
  ScopedHandle handle(OpenFolder(root, kListAccess));
  if (!handle.valid()) return {};
  Identity identity;
  if (IdentityOf(handle.get(), &identity) ? !entered_.insert(identity).second
                                          : !entered_by_name_.insert(UpperCase(root)).second)
    return {};
  return List(handle.get(), root, identity.first);
}

Listing FolderWalk::Enter(const Subfolder& folder) { return std::move(EnterAll({folder}).front()); }

// Folders met inside a walk, through no link: on the volume of the listing they came from.
std::vector<Listing> FolderWalk::EnterAll(const std::vector<Subfolder>& folders) {
  std::vector<bool> is_new(folders.size());
  for (size_t i = 0; i < folders.size(); ++i)
    is_new[i] = entered_.insert(folders[i].identity).second;
  std::vector<Listing> listings(folders.size());
  InParallel(folders.size(), [&](size_t i) {
    if (!is_new[i]) return;
    ScopedHandle handle(OpenFolder(folders[i].path, kListAccess));
    if (handle.valid())
      listings[i] = List(handle.get(), folders[i].path, folders[i].identity.first);
  });
  return listings;
}
