// The file-system paths of the items a right-click names by ID lists. Asking the shell for one
// binds every folder on the way down, which some shells make dearer than the rest of the
// right-click; so the paths of the last lists asked are kept. Only lists that start at This PC
// (its drives, and the user's folders it shows) are kept: their paths follow from the names in the
// list, the user's folders' places aside, and those places are watched: when one moves, the kept
// paths are forgotten.
#pragma once

#include <windows.h>
#include <shtypes.h>

#include <functional>
#include <string>

#include "common/recent_map.h"

class ItemPaths {
 public:
  // How many lists' paths are kept; the least recently used goes first.
  static constexpr size_t kLimit = 64;
  // The longest path asked for: room for more than a console can start in, so that a path too
  // long for it is seen as such and never cut.
  static constexpr size_t kLongest = 2 * MAX_PATH;

  using Ask = std::function<std::wstring(PCIDLIST_ABSOLUTE)>;

  static ItemPaths& Instance();

  // The path of `list`; empty for an item without one (This PC, a phone, a zip file's entry).
  std::wstring PathOf(PCIDLIST_ABSOLUTE list) { return PathOf(list, AskTheShell); }
  // The same, asking `ask` for what is not kept.
  std::wstring PathOf(PCIDLIST_ABSOLUTE list, const Ask& ask);

  size_t kept() const;
  static std::wstring AskTheShell(PCIDLIST_ABSOLUTE list);

 private:
  ItemPaths() = default;

  mutable SRWLOCK lock_ = SRWLOCK_INIT;  // handlers of several windows run on several threads
  RecentMap<std::string, std::wstring> paths_{kLimit};
  FILETIME places_written_ = {};  // the user's folders' places when the paths were kept
};

// The absolute ID list of the one item in a shell ID list array (the shell's list of a selection)
// of `size` bytes, to be freed with ILFree; null when the array holds other than one item, or
// lists that run past its end.
PIDLIST_ABSOLUTE OneItemOfIdListArray(const void* block, size_t size);
