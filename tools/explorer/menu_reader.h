// Reads back a menu as the user would see it: labels, identifiers, item data, bitmaps.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MenuItemView {
  UINT id = 0;
  std::wstring text;
  ULONG_PTR data = 0;
  HBITMAP bitmap = nullptr;
  bool has_submenu = false;
  std::vector<MenuItemView> submenu;
};

std::vector<MenuItemView> ReadMenu(HMENU menu);

// One line per item, indented by depth: `id=101 "Python here" data=module bitmap=16x16x32`.
// `marker` is the item data printed as "module".
std::string DescribeMenu(const std::vector<MenuItemView>& items, ULONG_PTR marker, int depth = 0);

struct BitmapPixels {
  int width = 0;
  int height = 0;
  int bits_per_pixel = 0;
  std::vector<uint32_t> pixels;  // top-down rows, 0xAARRGGBB
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The bitmap's own format and its pixels read with GetDIBits as 32-bit values.
bool ReadBitmap(HBITMAP bitmap, BitmapPixels* out);
