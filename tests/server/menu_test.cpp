// The context menu as the shell builds it: labels, identifiers, item data and bitmaps, read
// back from a real popup menu; the module loaded through its registration in this process.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/menu_reader.h"
#include "tests/support/module_copy.h"
#include "tests/support/owners.h"
#include "tests/support/resource_counts.h"
#include "tests/support/shell_host.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr UINT kFirst = 100;
constexpr uint32_t kGreen = 0xFF00FF00;
constexpr uint32_t kBlue = 0xFF0000FF;

// A 32 x 32 icon file whose left half is see-through and right half opaque. With alpha, the
// left half is half-transparent red and the mask says "opaque" everywhere, so a conversion
// that wrongly used the mask would show it; without alpha, the image is 24-bit and the mask
// alone makes the left half transparent.
// `other_colour` gives a file of the same size whose opaque half is red instead.
bool WriteTestIcon(const std::wstring& path, bool with_alpha, bool other_colour = false) {
  const int size = 32, bpp = with_alpha ? 32 : 24;
  const int xor_stride = ((size * bpp / 8) + 3) & ~3, mask_stride = 4;
  std::string image(40 + xor_stride * size + mask_stride * size, '\0');
  BITMAPINFOHEADER header = {
      sizeof(BITMAPINFOHEADER), size, size * 2, 1, static_cast<WORD>(bpp), BI_RGB, 0, 0, 0, 0, 0};
  memcpy(&image[0], &header, sizeof(header));
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      unsigned char* p =
          reinterpret_cast<unsigned char*>(&image[40 + y * xor_stride + x * bpp / 8]);
      bool right = x >= size / 2;
      if (with_alpha) {  // B G R A
        p[0] = right ? 0xFF : 0x00, p[1] = 0x00, p[2] = right ? 0x00 : 0xFF;
        p[3] = right ? 0xFF : 0x80;
      } else {
        p[0] = 0x00, p[1] = right && !other_colour ? 0xFF : 0x00;
        p[2] = right && other_colour ? 0xFF : 0x00;
      }
    }
    unsigned char* mask =
        reinterpret_cast<unsigned char*>(&image[40 + xor_stride * size + y * mask_stride]);
    if (!with_alpha) mask[0] = mask[1] = 0xFF;  // left 16 pixels transparent
  }
  std::string file(6 + 16, '\0');
  WORD dir[3] = {0, 1, 1};
  memcpy(&file[0], dir, sizeof(dir));
  struct {
    BYTE width, height, colors, reserved;
    WORD planes, bit_count;
    DWORD bytes, offset;
  } entry = {size, size, 0, 0, 1, static_cast<WORD>(bpp), static_cast<DWORD>(image.size()), 22};
  memcpy(&file[6], &entry, sizeof(entry));
  return WriteTextFile(path, file + image);
}

std::string Config(const std::vector<std::vector<std::string>>& entries) {
  std::string xml = "<configure><log_level>4</log_level>";
  for (const auto& e : entries) {
    xml +=
        "<python><path>" + e[0] + "</path><version>" + e[1] + "</version><bits>" + e[2] + "</bits>";
    if (e.size() > 3) xml += "<desc>" + e[3] + "</desc>";
    xml += "</python>";
  }
  return xml + "</configure>";
}

class MenuTest : public ::testing::Test {
 protected:
  MenuTest() : files_(L"icons") {}

  void SetUp() override {
    ASSERT_TRUE(host_.ready());
    ASSERT_TRUE(copy_.copied());
    ASSERT_EQ(copy_.Register(), 0u);
    alpha_ = files_.path() + L"\\alpha.ico";
    plain_ = files_.path() + L"\\plain.ico";
    ASSERT_TRUE(WriteTestIcon(alpha_, true));
    ASSERT_TRUE(WriteTestIcon(plain_, false));
  }
  void TearDown() override {
    menus_.clear();
    handler_.reset();
    CoFreeUnusedLibraries();
  }

  void WithCompanion() {
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\shell_host.exe").c_str(),
                          (copy_.folder() + L"\\Velmar.exe").c_str(), FALSE));
  }

  // A new handler, initialised for the background of the icon folder. The host closes its
  // menus before it lets the old handler go, unless told to keep them.
  void NewHandler(const std::string& config, bool keep_menus = false) {
    if (!keep_menus) menus_.clear();
    handler_.reset();
    ASSERT_TRUE(copy_.WriteConfig(config));
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(host_.CreateHandler(&init), S_OK);
    ASSERT_EQ(ShellHost::InitializeBackground(init.get(), files_.path()), S_OK);
    ASSERT_EQ(init.As(IID_IContextMenu, &handler_), S_OK);
  }

  // A host menu with two items of its own; the handler inserts at position 1.
  HMENU NewHostMenu() {
    menus_.emplace_back(new UniqueMenu(CreatePopupMenu()));
    HMENU menu = menus_.back()->get();
    AppendMenuW(menu, MF_STRING, 1, L"Open");
    AppendMenuW(menu, MF_STRING, 2, L"Properties");
    return menu;
  }

  HRESULT Query(HMENU menu, UINT flags = CMF_NORMAL) {
    return handler_->QueryContextMenu(menu, 1, kFirst, 0x7FFF, flags);
  }

  // The handler's submenu of a host menu built by NewHostMenu.
  static std::vector<MenuItemView> Submenu(HMENU menu) {
    std::vector<MenuItemView> items = ReadMenu(menu);
    return items.size() == 3 ? items[1].submenu : std::vector<MenuItemView>();
  }

  ULONG_PTR Marker() const {
    return reinterpret_cast<ULONG_PTR>(GetModuleHandleW(copy_.dll_path().c_str()));
  }

  ShellHost host_;
  ModuleCopy copy_;
  TempDir files_;
  std::wstring alpha_, plain_;
  ComPtr<IContextMenu> handler_;
  std::vector<std::unique_ptr<UniqueMenu>> menus_;
};

TEST_F(MenuTest, LayoutFollowsTheConfiguration) {
  WithCompanion();
  NewHandler(
      Config({{Ascii(alpha_), "3.8", "64"}, {"", "", ""}, {Ascii(plain_), "2.7", "32", "work"}}));
  HMENU menu = NewHostMenu();
  EXPECT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 6));
  EXPECT_EQ(DescribeMenu(ReadMenu(menu), Marker()),
            "  id=1 \"Open\" data=0x0 bitmap=none\n"
            "  id=101 \"Python here\" data=module bitmap=16x16x32\n"
            "    id=102 \"Python 3.8 64\" data=module bitmap=16x16x32\n"
            "    id=103 \"Python  \" data=module bitmap=none\n"
            "    id=104 \"Python 2.7 32|work\" data=module bitmap=16x16x32\n"
            "    id=105 \"Open Velmar\" data=module bitmap=16x16x32\n"
            "  id=2 \"Properties\" data=0x0 bitmap=none\n");
  std::vector<MenuItemView> top = ReadMenu(menu);
  ASSERT_EQ(top.size(), 3u);
  EXPECT_EQ(top[1].bitmap, top[1].submenu[3].bitmap);  // icon 219, converted once
}

TEST_F(MenuTest, CountsWithAndWithoutTheCompanion) {
  NewHandler(Config({{Ascii(plain_), "3.12", "64"}}));
  HMENU menu = NewHostMenu();
  EXPECT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  std::vector<MenuItemView> items = Submenu(menu);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].id, 102u);

  NewHandler(Config({}));
  menu = NewHostMenu();
  EXPECT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
  EXPECT_EQ(ReadMenu(menu).size(), 3u);
  EXPECT_TRUE(Submenu(menu).empty());

  WithCompanion();
  NewHandler(Config({}));
  menu = NewHostMenu();
  EXPECT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  items = Submenu(menu);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].text, L"Open Velmar");
  EXPECT_EQ(items[0].id, 102u);
}

TEST_F(MenuTest, AnExtendedMenuAndDefaultOnlyGetNothing) {
  NewHandler(Config({{Ascii(plain_), "3.12", "64"}}));
  HMENU menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  std::string before = DescribeMenu(ReadMenu(menu), Marker());
  EXPECT_EQ(Query(menu), S_OK);
  EXPECT_EQ(DescribeMenu(ReadMenu(menu), Marker()), before);

  // A second handler (text files reach two handler names) sees the marker too.
  ComPtr<IContextMenu> first = std::move(handler_);
  NewHandler(Config({{Ascii(plain_), "3.12", "64"}}), true);
  EXPECT_EQ(Query(menu), S_OK);
  EXPECT_EQ(DescribeMenu(ReadMenu(menu), Marker()), before);

  HMENU other = NewHostMenu();
  EXPECT_EQ(Query(other, CMF_DEFAULTONLY | CMF_EXPLORE), S_OK);
  EXPECT_EQ(GetMenuItemCount(other), 2);
}

TEST_F(MenuTest, BitmapsAreSmallIconSized32BitWithAlpha) {
  NewHandler(Config({{Ascii(plain_), "2.7", "32"}, {Ascii(alpha_), "3.8", "64"}}));
  HMENU menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 4));
  std::vector<MenuItemView> items = Submenu(menu);
  ASSERT_EQ(items.size(), 2u);

  BitmapPixels plain, alpha;
  ASSERT_TRUE(ReadBitmap(items[0].bitmap, &plain));
  ASSERT_TRUE(ReadBitmap(items[1].bitmap, &alpha));
  EXPECT_EQ(plain.width, GetSystemMetrics(SM_CXSMICON));
  EXPECT_EQ(plain.height, GetSystemMetrics(SM_CYSMICON));
  EXPECT_EQ(plain.bits_per_pixel, 32);
  ASSERT_EQ(plain.width, 16);

  // Without alpha of its own: transparent under the mask, opaque with its colour elsewhere.
  for (int y : {1, 8, 14}) {
    for (int x : {1, 5}) EXPECT_EQ(plain.at(x, y), 0u) << x << "," << y;
    for (int x : {10, 14}) EXPECT_EQ(plain.at(x, y), kGreen) << x << "," << y;
  }
  // With alpha: its own alpha kept, the mask not consulted.
  for (int y : {1, 8, 14}) {
    for (int x : {1, 5}) EXPECT_EQ(alpha.at(x, y) >> 24, 0x80u) << x << "," << y;
    for (int x : {10, 14}) EXPECT_EQ(alpha.at(x, y), kBlue) << x << "," << y;
  }
}

TEST_F(MenuTest, OneBitmapPerIconAndFailuresAreNotKept) {
  std::wstring no_icons = ProgramFolder() + L"\\shell_host.exe";  // carries no icon
  std::wstring later = files_.path() + L"\\later.ico";
  NewHandler(Config({{Ascii(plain_), "2.7", "32"},
                     {Ascii(plain_), "2.7", "32", "again"},
                     {Ascii(no_icons), "3.1", "64"},
                     {Ascii(later), "3.2", "64"}}));
  HMENU menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 6));
  std::vector<MenuItemView> first = Submenu(menu);
  ASSERT_EQ(first.size(), 4u);
  EXPECT_NE(first[0].bitmap, nullptr);
  EXPECT_EQ(first[0].bitmap, first[1].bitmap);
  EXPECT_EQ(first[2].bitmap, nullptr);
  EXPECT_EQ(first[3].bitmap, nullptr);

  // The same object builds another menu: the same bitmaps, and a file that now has an icon
  // is read again.
  ASSERT_TRUE(WriteTestIcon(later, false));
  HMENU second_menu = NewHostMenu();
  ASSERT_EQ(Query(second_menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 6));
  std::vector<MenuItemView> second = Submenu(second_menu);
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[0].bitmap, first[0].bitmap);
  EXPECT_EQ(ReadMenu(second_menu)[1].bitmap, ReadMenu(menu)[1].bitmap);
  EXPECT_EQ(second[2].bitmap, nullptr);
  EXPECT_NE(second[3].bitmap, nullptr);
}

// The handler owns its bitmaps: once the host has closed its menu and released the handler,
// none of them is left.
TEST_F(MenuTest, ReleasingTheHandlerDeletesItsBitmaps) {
  WithCompanion();
  NewHandler(Config({{Ascii(plain_), "2.7", "32"}, {Ascii(alpha_), "3.8", "64"}}));
  HMENU menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 5));
  std::vector<HBITMAP> bitmaps = {ReadMenu(menu)[1].bitmap};
  for (const MenuItemView& item : Submenu(menu)) bitmaps.push_back(item.bitmap);
  for (HBITMAP bitmap : bitmaps) EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
  menus_.clear();
  handler_.reset();
  for (HBITMAP bitmap : bitmaps) EXPECT_EQ(GetObjectType(bitmap), 0u);
}

FILETIME WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

void SetWriteTime(const std::wstring& path, FILETIME time) {
  UniqueHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  SetFileTime(file.get(), nullptr, nullptr, &time);
}

// Icon work is shared by the handlers of the process: a second handler gets the same pixels
// without reading the executable again, until the file changes.
TEST_F(MenuTest, HandlersShareIconWorkUntilTheFileChanges) {
  std::wstring icon = files_.path() + L"\\shared.ico";
  ASSERT_TRUE(WriteTestIcon(icon, false));
  std::string config = Config({{Ascii(icon), "3.12", "64"}});
  NewHandler(config);
  HMENU menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  BitmapPixels first;
  ASSERT_TRUE(ReadBitmap(Submenu(menu)[0].bitmap, &first));
  ASSERT_EQ(first.at(12, 8), kGreen);
  ComPtr<IContextMenu> first_handler = std::move(handler_);
  BitmapPixels first_module;
  ASSERT_TRUE(ReadBitmap(ReadMenu(menu)[1].bitmap, &first_module));

  // Another icon in a file of the same size and write time: a handler that read the file
  // again would show red.
  FILETIME written = WriteTime(icon);
  ASSERT_TRUE(WriteTestIcon(icon, false, true));
  SetWriteTime(icon, written);
  NewHandler(config, true);
  HMENU second_menu = NewHostMenu();
  ASSERT_EQ(Query(second_menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  HBITMAP second_bitmap = Submenu(second_menu)[0].bitmap;
  EXPECT_NE(second_bitmap, Submenu(menu)[0].bitmap);  // its own bitmap
  BitmapPixels second, second_module;
  ASSERT_TRUE(ReadBitmap(second_bitmap, &second));
  ASSERT_TRUE(ReadBitmap(ReadMenu(second_menu)[1].bitmap, &second_module));
  EXPECT_EQ(second.pixels, first.pixels);
  EXPECT_EQ(second_module.pixels, first_module.pixels);

  // The first handler goes (its menu first); the second one's bitmaps stay.
  menus_.front().reset();
  first_handler.reset();
  EXPECT_EQ(GetObjectType(second_bitmap), static_cast<DWORD>(OBJ_BITMAP));
  ASSERT_TRUE(ReadBitmap(second_bitmap, &second));
  EXPECT_EQ(second.pixels, first.pixels);

  // A new write time is a new version of the file.
  FILETIME later = written;
  later.dwHighDateTime += 1;
  SetWriteTime(icon, later);
  NewHandler(config);
  menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  BitmapPixels changed;
  ASSERT_TRUE(ReadBitmap(Submenu(menu)[0].bitmap, &changed));
  EXPECT_EQ(changed.at(12, 8), 0xFFFF0000u);
}

// The settings are parsed once per version of the file; an edit is seen on the next
// right-click, even one that keeps the file's size.
TEST_F(MenuTest, AnEditedConfigurationIsSeenOnTheNextRightClick) {
  NewHandler(Config({{Ascii(plain_), "3.12", "64"}}));
  HMENU menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  EXPECT_EQ(Submenu(menu)[0].text, L"Python 3.12 64");
  FILETIME written = WriteTime(copy_.config_path());
  written.dwHighDateTime += 1;
  NewHandler(Config({{Ascii(plain_), "3.13", "64"}}));
  SetWriteTime(copy_.config_path(), written);
  menu = NewHostMenu();
  ASSERT_EQ(Query(menu), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
  EXPECT_EQ(Submenu(menu)[0].text, L"Python 3.13 64");
}

// The counters move with objects of known count, so a flat line below means something.
TEST(ResourceCounters, MoveWithKnownObjects) {
  ResourceCounts before = CountResources();
  ASSERT_GE(before.gdi_objects, 0);
  ASSERT_GE(before.handles, 0);
  std::vector<HBITMAP> bitmaps;
  std::vector<UniqueHandle> events;
  for (int i = 0; i < 10; ++i) {
    bitmaps.push_back(CreateBitmap(4, 4, 1, 32, nullptr));
    events.emplace_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  ResourceCounts during = CountResources();
  for (HBITMAP bitmap : bitmaps) DeleteObject(bitmap);
  events.clear();
  ResourceCounts after = CountResources();
  EXPECT_EQ(during.gdi_objects - before.gdi_objects, 10);
  EXPECT_EQ(during.handles - before.handles, 10);
  EXPECT_EQ(after.gdi_objects, before.gdi_objects);
  EXPECT_EQ(after.handles, before.handles);
}

TEST_F(MenuTest, ThousandRightClicksLeaveNothingBehind) {
  WithCompanion();
  ASSERT_TRUE(copy_.WriteConfig(Config({{Ascii(plain_), "2.7", "32"},
                                        {Ascii(alpha_), "3.8", "64"},
                                        {Ascii(plain_), "3.12", "64", "work"}})));
  auto cycle = [&]() {
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(host_.CreateHandler(&init), S_OK);
    ASSERT_EQ(ShellHost::InitializeBackground(init.get(), files_.path()), S_OK);
    ComPtr<IContextMenu> menu_handler;
    ASSERT_EQ(init.As(IID_IContextMenu, &menu_handler), S_OK);
    UniqueMenu menu(CreatePopupMenu());
    ASSERT_EQ(menu_handler->QueryContextMenu(menu.get(), 0, kFirst, 0x7FFF, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 6));
  };
  for (int i = 0; i < 20; ++i) cycle();  // the shell's own caches settle first
  ResourceCounts before = CountResources();
  for (int i = 0; i < 1000; ++i) cycle();
  ResourceCounts after = CountResources();
  std::printf("GDI objects %ld -> %ld, handles %ld -> %ld over 1000 right-clicks\n",
              before.gdi_objects, after.gdi_objects, before.handles, after.handles);
  EXPECT_EQ(after.gdi_objects, before.gdi_objects);
  EXPECT_EQ(after.handles, before.handles);
}

// Many right-clicks with ten interpreters leave the process as they found it, and once the
// module is unloaded, nothing it made is left (full 10,000 in scripts/benchmark.sh).
TEST(Soak, RightClicksThenUnloadLeaveNothingBehind) {
  ShellHost host;
  ASSERT_TRUE(host.ready());
  TempDir files(L"soak");
  std::wstring sample = files.path() + L"\\main.py";
  ASSERT_TRUE(WriteTextFile(sample, "x"));
  ResourceCounts unloaded = CountResources();
  ModuleCopy copy;
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\shell_host.exe").c_str(),
                        (copy.folder() + L"\\Velmar.exe").c_str(), FALSE));
  std::string config = "<configure><log_level>4</log_level>";
  for (int i = 0; i < 10; ++i) {
    std::wstring icon = files.path() + L"\\python" + std::to_wstring(i) + L".ico";
    ASSERT_TRUE(WriteTestIcon(icon, i % 2 == 0));
    config += "<python><path>" + Ascii(icon) + "</path><version>3.1" + std::to_string(i) +
              "</version><bits>64</bits></python>";
  }
  ASSERT_TRUE(copy.WriteConfig(config + "</configure>"));
  ASSERT_EQ(copy.Register(), 0u);
  ResourceCounts before, after;
  {
    ComPtr<IDataObject> data;
    ASSERT_EQ(ShellHost::DataObjectFor({sample}, &data), S_OK);
    auto cycle = [&]() {
      ComPtr<IShellExtInit> init;
      ASSERT_EQ(host.CreateHandler(&init), S_OK);
      ASSERT_EQ(init->Initialize(nullptr, data.get(), nullptr), S_OK);
      ComPtr<IContextMenu> handler;
      ASSERT_EQ(init.As(IID_IContextMenu, &handler), S_OK);
      UniqueMenu menu(CreatePopupMenu());
      ASSERT_EQ(handler->QueryContextMenu(menu.get(), 0, kFirst, 0x7FFF, CMF_NORMAL),
                MAKE_HRESULT(SEVERITY_SUCCESS, 0, 13));
    };
    for (int i = 0; i < 20; ++i) cycle();
    before = CountResources();
    for (int i = 0; i < 2000; ++i) cycle();
    after = CountResources();
  }
  CoFreeUnusedLibraries();
  EXPECT_EQ(GetModuleHandleW(copy.dll_path().c_str()), nullptr);
  ResourceCounts gone = CountResources();
  std::printf(
      "GDI objects %ld -> %ld over 2000 right-clicks, %ld after unloading (%ld before "
      "loading); handles %ld -> %ld, %ld (%ld)\n",
      before.gdi_objects, after.gdi_objects, gone.gdi_objects, unloaded.gdi_objects, before.handles,
      after.handles, gone.handles, unloaded.handles);
  EXPECT_EQ(after.gdi_objects, before.gdi_objects);
  EXPECT_EQ(after.handles, before.handles);
  EXPECT_LE(gone.gdi_objects, unloaded.gdi_objects);
}

// Before Windows 6.0 the items carry the owner-draw placeholder and the menu asks the handler
// to measure and draw. Wine pretends the older version for the host program alone.
TEST(OwnerDrawnMenu, OlderWindowsMeasuresAndDraws) {
  ModuleCopy copy;
  ASSERT_TRUE(copy.copied());
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\shell_host.exe").c_str(),
                        (copy.folder() + L"\\Velmar.exe").c_str(), FALSE));
  ASSERT_TRUE(copy.WriteConfig(
      "<configure><python><path>C:\\windows\\notepad.exe</path><version>2.7</version>"
      "<bits>32</bits></python></configure>"));
  ASSERT_EQ(copy.Register(), 0u);
  TempDir sample(L"xp");

  const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\shell_host.exe";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t kVersion[] = L"winxp";
  RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(kVersion),
                 sizeof(kVersion));
  RegCloseKey(key);
  CapturedRun run = RunUnderDebugger(L"\"" + ProgramFolder() + L"\\shell_host.exe\" background \"" +
                                     sample.path() +
                                     L"\" menu measure draw 103 0 16 draw 103 100 20 "
                                     L"draw 103 100 15 draw 102 100 20 draw 101 100 20");
  RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);

  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exit_code, 0u) << run.output;
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = run.output.find('\n', start)) != std::string::npos;
       start = end + 1)
    lines.push_back(run.output.substr(start, end - start));
  ASSERT_EQ(lines.size(), 12u) << run.output;
  EXPECT_EQ(lines[2], "menu=0x00000004");
  EXPECT_EQ(lines[3], "  id=101 \"Python here\" data=module bitmap=owner-drawn");
  EXPECT_EQ(lines[4], "    id=102 \"Python 2.7 32\" data=module bitmap=owner-drawn");
  EXPECT_EQ(lines[5], "    id=103 \"Open Velmar\" data=module bitmap=owner-drawn");
  EXPECT_EQ(lines[6], "measure=0x00000000 width=16 height=16 result=1");
  // The icon's own first row, drawn at y = 0; then centred: y = 102 for 20 pixels, 100 for 15.
  int offset = -1;
  ASSERT_EQ(sscanf(lines[7].c_str(), "draw=0x00000000 result=1 first_row=%d", &offset), 1);
  EXPECT_GE(offset, 0);
  EXPECT_EQ(lines[8], "draw=0x00000000 result=1 first_row=" + std::to_string(102 + offset));
  EXPECT_EQ(lines[9], "draw=0x00000000 result=1 first_row=" + std::to_string(100 + offset));
  // Items without an icon entry are measured but left blank.
  EXPECT_EQ(lines[10], "draw=0x00000000 result=0 first_row=-1");
  EXPECT_EQ(lines[11], "draw=0x00000000 result=0 first_row=-1");
}

}  // namespace
