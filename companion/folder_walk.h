// Listing folders for Detect without being led astray by links and loops.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// `path` with / as \, no doubled \ (but a leading \\ of a network path) and no trailing one
// (variables often end in one).
std::wstring CleanPath(const std::wstring& path);

// `text` in capitals, for comparing paths without letter case.
std::wstring UpperCase(std::wstring text);

// A file or folder's identity on this machine: its volume and its file index, the same under
// every name (links, junctions, other letter case). False when the system does not say.
using Identity = std::pair<DWORD, ULONGLONG>;
bool IdentityOf(const std::wstring& path, Identity* identity);

// Calls work(i) for every i below `count`, on a few threads when there are many: looking at
// folders is mostly waiting for the system. `work` must be safe to run side by side.
void InParallel(size_t count, const std::function<void(size_t)>& work);

struct Subfolder {
  std::wstring path;
  Identity identity;  // from the listing it was met in
};

// What a folder holds: its subfolders (links left out), sorted without letter case, and the
// names of its files.
struct Listing {
  std::vector<Subfolder> folders;
  std::vector<std::wstring> files;
  bool HasFolder(const wchar_t* name) const;
  bool HasFile(const wchar_t* name) const;
};

// Each folder is entered once, known by its identity rather than its name, so a loop that the
// system shows as a plain folder ends; links met inside a folder are not followed (a root is,
// when it is one). A subfolder's identity comes with the listing it was met in: entering it
// costs one listing and nothing more.
class FolderWalk {
 public:
  // Nothing when the folder was entered before under any name, or cannot be listed.
  Listing Enter(const std::wstring& root);
  Listing Enter(const Subfolder& folder);
  // The listings of `folders`, in their order, each as Enter gives it, read side by side.
  std::vector<Listing> EnterAll(const std::vector<Subfolder>& folders);

 private:
  std::set<Identity> entered_;
  std::set<std::wstring> entered_by_name_;  // where the system gives no identity
};
