// The process's store of menu bitmaps and the bitmaps saved between processes: what is made
// again and what is kept.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/owners.h"
#include "shellext/icon_store.h"
#include "shellext/saved_icons.h"
#include "tools/explorer/temp_dir.h"

namespace {

HBITMAP SmallBitmap() { return CreateBitmap(16, 16, 1, 32, nullptr); }

// A file without an icon is read once per version, not on every right-click; a new version is
// read again, and a file that is not there is never kept.
TEST(IconStore, AFileWithoutAnIconIsReadOncePerVersion) {
  TempDir folder(L"icon-store");
  const std::wstring file = folder.path() + L"\\plain.txt";
  ASSERT_TRUE(WriteTextFile(file, "no icon here"));
  int reads = 0;
  auto none = [&](const FileStamp&) -> HBITMAP {
    ++reads;
    return nullptr;
  };
  IconStore& store = IconStore::Instance();
  EXPECT_EQ(store.FileBitmap(file, none), nullptr);
  Sleep(IconStore::kRecheckMs + 50);  // past the recheck: the stamp is read, the file is not
  EXPECT_EQ(store.FileBitmap(file, none), nullptr);
  EXPECT_EQ(reads, 1);

  ASSERT_TRUE(WriteTextFile(file, "now a longer file, another version"));
  Sleep(IconStore::kRecheckMs + 50);
  HBITMAP made = store.FileBitmap(file, [&](const FileStamp&) {
    ++reads;
    return SmallBitmap();
  });
  EXPECT_NE(made, nullptr);
  EXPECT_EQ(reads, 2);
  store.Release(made);

  const std::wstring missing = folder.path() + L"\\missing.exe";
  store.FileBitmap(missing, none);
  store.FileBitmap(missing, none);
  EXPECT_EQ(reads, 2);  // nothing to read, and nothing kept
  store.Clear();
}

}  // namespace

namespace {

// A 32-bit DIB section of `side` pixels square, each pixel `seed` plus its index.
HBITMAP PatternBitmap(LONG side, uint32_t seed) {
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), side, side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  for (LONG k = 0; bits && k < side * side; ++k) static_cast<uint32_t*>(bits)[k] = seed + k;
  return bitmap;
}

}  // namespace

// What one process saves, the next draws from: the same pixels, for the same version of the file
// at the same size only.
TEST(SavedIcons, TheNextProcessGetsThePixelsOfTheSameVersionAtTheSameSize) {
  TempDir folder(L"saved-icons");
  const std::wstring file = folder.path() + L"\\cache\\menu-icons.bin";
  const FileStamp stamp = {1234, 56};
  std::vector<uint32_t> pixels;
  UniqueBitmap made(PatternBitmap(16, 0xFF000000));
  {
    SavedIcons first(file);
    EXPECT_FALSE(first.Pixels(L"C:\\py\\python.exe", stamp, {16, 16}, &pixels));
    first.Keep(L"C:\\py\\python.exe", stamp, made.get());
    first.Save();
  }
  SavedIcons next(file);
  ASSERT_TRUE(next.Pixels(L"C:\\py\\python.exe", stamp, {16, 16}, &pixels));
  ASSERT_EQ(pixels.size(), 256u);
  for (LONG at : {0, 17, 255}) EXPECT_EQ(pixels[at], 0xFF000000u + at);
  EXPECT_FALSE(next.Pixels(L"C:\\py\\python.exe", {1235, 56}, {16, 16}, &pixels));
  EXPECT_FALSE(next.Pixels(L"C:\\py\\python.exe", stamp, {20, 20}, &pixels));
  EXPECT_FALSE(next.Pixels(L"C:\\other\\python.exe", stamp, {16, 16}, &pixels));
}

// A full file keeps what was used last: the next process pushes out what was used longest ago,
// whatever the names (here the oldest name is the one in use).
TEST(SavedIcons, AFullFileKeepsWhatWasUsedLast) {
  TempDir folder(L"saved-icons-order");
  const std::wstring file = folder.path() + L"\\menu-icons.bin";
  const FileStamp stamp = {1, 2};
  std::vector<uint32_t> pixels;
  auto name = [](size_t k) { return L"C:\\p" + std::to_wstring(1000 + k); };
  {
    SavedIcons first(file);
    for (size_t k = 0; k < SavedIcons::kEntryLimit; ++k) {
      UniqueBitmap made(PatternBitmap(4, static_cast<uint32_t>(k)));
      first.Keep(name(k), stamp, made.get());
    }
    ASSERT_TRUE(first.Pixels(name(0), stamp, {4, 4}, &pixels));  // in use
    first.Save();
  }
  {
    SavedIcons next(file);
    UniqueBitmap made(PatternBitmap(4, 7));
    next.Keep(L"C:\\new", stamp, made.get());
    next.Save();
  }
  SavedIcons last(file);
  EXPECT_TRUE(last.Pixels(name(0), stamp, {4, 4}, &pixels));
  EXPECT_FALSE(last.Pixels(name(1), stamp, {4, 4}, &pixels));  // used longest ago
  EXPECT_TRUE(last.Pixels(L"C:\\new", stamp, {4, 4}, &pixels));
}

// A damaged file (cut anywhere, or claiming more than it may hold) counts as empty, and the file
// never holds more entries than its bound.
TEST(SavedIcons, ADamagedFileIsEmptyAndTheFileIsBounded) {
  TempDir folder(L"saved-icons-damaged");
  const std::wstring file = folder.path() + L"\\menu-icons.bin";
  const FileStamp stamp = {1, 2};
  std::vector<uint32_t> pixels;
  {
    SavedIcons saved(file);
    for (int k = 0; k < 200; ++k) {
      UniqueBitmap made(PatternBitmap(4, k));
      saved.Keep(L"C:\\p" + std::to_wstring(1000 + k), stamp, made.get());
    }
    saved.Save();
  }
  {
    SavedIcons reread(file);
    EXPECT_FALSE(reread.Pixels(L"C:\\p1000", stamp, {4, 4}, &pixels));  // pushed out
    ASSERT_TRUE(reread.Pixels(L"C:\\p1199", stamp, {4, 4}, &pixels));
    EXPECT_EQ(pixels[3], 199u + 3);
  }
  const std::string whole = ReadTextFile(file);
  const size_t entry = 4 + 8 * 2 + 16 + 8 + 16 * 4;  // chars, "C:\pNNNN", stamp, size, pixels
  EXPECT_EQ(whole.size(), 8 + SavedIcons::kEntryLimit * entry);
  for (size_t cut :
       {size_t{0}, size_t{3}, size_t{8}, size_t{9}, whole.size() / 2, whole.size() - 1}) {
    ASSERT_TRUE(WriteTextFile(file, whole.substr(0, cut)));
    SavedIcons damaged(file);
    EXPECT_FALSE(damaged.Pixels(L"C:\\p1199", stamp, {4, 4}, &pixels)) << cut;
  }
  std::string too_many = whole;
  too_many[4] = '\xFF';  // the count
  ASSERT_TRUE(WriteTextFile(file, too_many));
  SavedIcons claimed(file);
  EXPECT_FALSE(claimed.Pixels(L"C:\\p1199", stamp, {4, 4}, &pixels));
}
