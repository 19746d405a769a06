// The paths of the items a right-click names by ID lists: which are kept, for how long, and the
// shell's list of a selection read as the bytes come, whatever they are.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/owners.h"
#include "shellext/item_paths.h"
#include "tools/explorer/temp_dir.h"

namespace {

const wchar_t kPlacesKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

class ComApartment {
 public:
  ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComApartment() { CoUninitialize(); }
};

// The ID list of This PC followed by a made-up item numbered `number`: never shown to the shell.
PidlPtr MadeUpDriveItem(unsigned number) {
  PIDLIST_ABSOLUTE this_pc = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &this_pc))) return PidlPtr();
  PidlPtr owner(this_pc);
  unsigned char child[2 + sizeof(number) + 2] = {static_cast<unsigned char>(2 + sizeof(number))};
  std::memcpy(child + 2, &number, sizeof(number));
  return PidlPtr(ILCombine(this_pc, reinterpret_cast<PCUIDLIST_RELATIVE>(child)));
}

// The shell, asked through a counter.
struct CountedShell {
  int asked = 0;
  std::wstring answer;  // given for every list when set, else the shell's own answer
  ItemPaths::Ask ask() {
    return [this](PCIDLIST_ABSOLUTE list) {
      ++asked;
      return answer.empty() ? ItemPaths::AskTheShell(list) : answer;
    };
  }
};

// A drive's file is asked of the shell once; This PC's own list and a list of the desktop's are
// asked every time, as is an item without a path.
TEST(ItemPaths, OnlyTheItemsOfThisPcAreKeptWithTheShellsAnswer) {
  ComApartment apartment;
  TempDir folder(L"item-paths");
  const std::wstring file = folder.path() + L"\\main.py";
  ASSERT_TRUE(WriteTextFile(file, "print()"));
  PidlPtr list(ILCreateFromPathW(file.c_str()));
  ASSERT_TRUE(list);
  CountedShell shell;
  ItemPaths& paths = ItemPaths::Instance();
  EXPECT_EQ(paths.PathOf(list.get(), shell.ask()), file);
  EXPECT_EQ(paths.PathOf(list.get(), shell.ask()), file);
  EXPECT_EQ(shell.asked, 1);
  EXPECT_EQ(paths.PathOf(list.get()), file);

  PIDLIST_ABSOLUTE this_pc = nullptr;
  ASSERT_HRESULT_SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &this_pc));
  PidlPtr this_pc_owner(this_pc);
  EXPECT_EQ(paths.PathOf(this_pc, shell.ask()), L"");
  EXPECT_EQ(paths.PathOf(this_pc, shell.ask()), L"");
  EXPECT_EQ(shell.asked, 3);

  wchar_t desktop[MAX_PATH] = {};
  ASSERT_HRESULT_SUCCEEDED(
      SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, 0, desktop));
  const std::wstring on_desktop = std::wstring(desktop) + L"\\velmar-item-paths.txt";
  ASSERT_TRUE(WriteTextFile(on_desktop, "x"));
  ComPtr<IShellFolder> desktop_folder;
  ASSERT_HRESULT_SUCCEEDED(SHGetDesktopFolder(desktop_folder.put()));
  PIDLIST_RELATIVE parsed = nullptr;
  wchar_t name[] = L"velmar-item-paths.txt";
  const HRESULT hr =
      desktop_folder->ParseDisplayName(nullptr, nullptr, name, nullptr, &parsed, nullptr);
  PidlPtr desktop_item(reinterpret_cast<PIDLIST_ABSOLUTE>(parsed));
  if (SUCCEEDED(hr) && desktop_item && ILGetNext(desktop_item.get()) &&
      ILGetNext(desktop_item.get())->mkid.cb == 0) {  // one item below the desktop
    EXPECT_EQ(paths.PathOf(desktop_item.get(), shell.ask()), on_desktop);
    EXPECT_EQ(paths.PathOf(desktop_item.get(), shell.ask()), on_desktop);
    EXPECT_EQ(shell.asked, 5);
  } else {
    ADD_FAILURE() << "the desktop's own list of a file on it: 0x" << std::hex << hr;
  }
  DeleteFileW(on_desktop.c_str());

  // An item whose path the shell cannot tell is asked again: it may have one later.
  int asked = 0;
  auto no_path = [&](PCIDLIST_ABSOLUTE) {
    ++asked;
    return std::wstring();
  };
  PidlPtr virtual_item = MadeUpDriveItem(0xFFFF0000u);
  EXPECT_EQ(paths.PathOf(virtual_item.get(), no_path), L"");
  EXPECT_EQ(paths.PathOf(virtual_item.get(), no_path), L"");
  EXPECT_EQ(asked, 2);
}

// Moving one of the user's folders (Documents shown under This PC) forgets every kept path; the
// kept paths are bounded, the least recently used going first.
TEST(ItemPaths, MovingAUsersFolderForgetsThePathsAndTheyStayBounded) {
  ComApartment apartment;
  ItemPaths& paths = ItemPaths::Instance();
  CountedShell shell;
  shell.answer = L"C:\\Users\\someone\\Documents\\project";
  PidlPtr documents_item = MadeUpDriveItem(1);
  EXPECT_EQ(paths.PathOf(documents_item.get(), shell.ask()), shell.answer);
  EXPECT_EQ(paths.PathOf(documents_item.get(), shell.ask()), shell.answer);
  EXPECT_EQ(shell.asked, 1);

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kPlacesKey, 0, nullptr, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  UniqueKey places(key);
  const wchar_t moved[] = L"D:\\Documents";
  Sleep(20);  // a write time of its own
  ASSERT_EQ(RegSetValueExW(key, L"Velmar test", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>(moved), sizeof(moved)),
            ERROR_SUCCESS);
  shell.answer = L"D:\\Documents\\project";
  EXPECT_EQ(paths.PathOf(documents_item.get(), shell.ask()), shell.answer);
  EXPECT_EQ(shell.asked, 2);
  EXPECT_EQ(paths.kept(), 1u);
  RegDeleteValueW(key, L"Velmar test");

  // Keeping one more than the limit pushes out the one used longest ago, and only that one.
  shell.asked = 0;
  for (unsigned number = 100; number < 100 + ItemPaths::kLimit + 1; ++number) {
    shell.answer = L"C:\\drive\\item" + std::to_wstring(number);
    PidlPtr item = MadeUpDriveItem(number);
    paths.PathOf(item.get(), shell.ask());
  }
  EXPECT_EQ(paths.kept(), ItemPaths::kLimit);
  shell.answer = L"C:\\asked again";
  PidlPtr first = MadeUpDriveItem(100), second = MadeUpDriveItem(101);
  EXPECT_EQ(paths.PathOf(second.get(), shell.ask()), L"C:\\drive\\item101");
  EXPECT_EQ(paths.PathOf(first.get(), shell.ask()), L"C:\\asked again");
  EXPECT_EQ(shell.asked, static_cast<int>(ItemPaths::kLimit) + 2);
}

// The shell's list of a selection: the folder's list, then each item's, each found at its offset.
std::vector<char> IdListArray(PCIDLIST_ABSOLUTE folder, const std::vector<PCUITEMID_CHILD>& items) {
  const UINT count = static_cast<UINT>(items.size());
  std::vector<char> block((count + 2) * sizeof(UINT));
  std::memcpy(block.data(), &count, sizeof(count));
  auto append = [&](const void* list, UINT at) {
    const UINT offset = static_cast<UINT>(block.size());
    std::memcpy(block.data() + (at + 1) * sizeof(UINT), &offset, sizeof(offset));
    const char* bytes = static_cast<const char*>(list);
    block.insert(block.end(), bytes, bytes + ILGetSize(static_cast<PCUIDLIST_RELATIVE>(list)));
  };
  append(folder, 0);
  for (UINT k = 0; k < count; ++k) append(items[k], k + 1);
  return block;
}

TEST(OneItemOfIdListArray, GivesTheOneItemAndRefusesListsThatRunOut) {
  TempDir folder(L"id-list-array");
  const std::wstring file = folder.path() + L"\\main.py";
  ASSERT_TRUE(WriteTextFile(file, "print()"));
  PidlPtr whole(ILCreateFromPathW(file.c_str()));
  PidlPtr parent(ILCreateFromPathW(folder.path().c_str()));
  ASSERT_TRUE(whole && parent);
  PCUITEMID_CHILD child = ILFindLastID(whole.get());

  std::vector<char> block = IdListArray(parent.get(), {child});
  PidlPtr found(OneItemOfIdListArray(block.data(), block.size()));
  ASSERT_TRUE(found);
  EXPECT_TRUE(ILIsEqual(found.get(), whole.get()));

  std::vector<char> two = IdListArray(parent.get(), {child, child});
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(two.data(), two.size())));
  std::vector<char> none = IdListArray(parent.get(), {});
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(none.data(), none.size())));

  // Cut before the item's end marker, or before its last item ends.
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(block.data(), block.size() - 1)));
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(block.data(), block.size() - 2)));
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(block.data(), block.size() - 3)));
  // An offset past the end; an item that claims fewer bytes than its own size field.
  std::vector<char> outside = block;
  const UINT past_end = 0x7FFFFFF0u;
  std::memcpy(outside.data() + 2 * sizeof(UINT), &past_end, sizeof(past_end));
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(outside.data(), outside.size())));
  std::vector<char> stuck = block;
  UINT child_at = 0;
  std::memcpy(&child_at, stuck.data() + 2 * sizeof(UINT), sizeof(child_at));
  stuck[child_at] = 1;  // read from the next byte on, it would end the list
  stuck[child_at + 1] = 0;
  stuck[child_at + 2] = 0;
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(stuck.data(), stuck.size())));
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(block.data(), 2 * sizeof(UINT))));
  EXPECT_FALSE(PidlPtr(OneItemOfIdListArray(nullptr, 0)));
}

}  // namespace
