// What Explorer hands Windows 11's command besides the selection: the folder window as the
// command's site. The site offers the window's folder view (SID_SFolderView) and its browser
// (SID_STopLevelBrowser, whose active view is the folder view as well), as a folder window does;
// or only one of them, or neither. Every reference the command takes is counted, so a test can
// see that all are given back. Also: shell item arrays as Explorer hands them, with items whose
// paths need not exist.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/owners.h"

class FolderWindow {
 public:
  enum class Offers { kBoth, kFolderView, kBrowser, kNothing };
  // `folder`: the window's folder, a file-system path; or null for This PC, which has none.
  FolderWindow(const wchar_t* folder, Offers offers);
  ~FolderWindow();
  FolderWindow(const FolderWindow&) = delete;
  FolderWindow& operator=(const FolderWindow&) = delete;

  IUnknown* site() const;
  // The references others hold now on the site, the view and the browser.
  long HeldByOthers() const;

 private:
  class Site;
  class View;
  class Browser;
  Site* site_;
  View* view_;
  Browser* browser_;
};

// An item array of `paths`: "" gives a null item (with success), "This PC" the virtual folder; any
// other path an item with that file-system path, which need not exist.
ComPtr<IShellItemArray> ItemArray(const std::vector<std::wstring>& paths);
