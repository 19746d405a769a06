#include "tools/explorer/menu_reader.h"

#include <cstdio>

#include "tools/explorer/temp_dir.h"

std::vector<MenuItemView> ReadMenu(HMENU menu) {
  std::vector<MenuItemView> items;
  int count = GetMenuItemCount(menu);
  for (int position = 0; position < count; ++position) {
    wchar_t text[512] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID | MIIM_DATA | MIIM_STRING | MIIM_BITMAP | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 512;
    if (!GetMenuItemInfoW(menu, position, TRUE, &info)) continue;
    MenuItemView item;
    item.id = info.wID;
    item.text = text;
    item.data = info.dwItemData;
    item.bitmap = info.hbmpItem;
    item.has_submenu = info.hSubMenu != nullptr;
    if (info.hSubMenu) item.submenu = ReadMenu(info.hSubMenu);
    items.push_back(item);
  }
  return items;
}

bool ReadBitmap(HBITMAP bitmap, BitmapPixels* out) {
  BITMAP info = {};
  if (!GetObjectW(bitmap, sizeof(info), &info)) return false;
  out->width = info.bmWidth;
  out->height = info.bmHeight;
  out->bits_per_pixel = info.bmBitsPixel;
  out->pixels.assign(static_cast<size_t>(info.bmWidth) * info.bmHeight, 0);
  BITMAPINFO request = {};
  request.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  request.bmiHeader.biWidth = info.bmWidth;
  request.bmiHeader.biHeight = -info.bmHeight;  // top-down
  request.bmiHeader.biPlanes = 1;
  request.bmiHeader.biBitCount = 32;
  request.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  int lines =
      GetDIBits(screen, bitmap, 0, info.bmHeight, out->pixels.data(), &request, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return lines == info.bmHeight;
}

namespace {

std::string DescribeBitmap(HBITMAP bitmap) {
  if (!bitmap) return "none";
  if (bitmap == HBMMENU_CALLBACK) return "owner-drawn";
  BITMAP info = {};
  if (!GetObjectW(bitmap, sizeof(info), &info)) return "invalid";
  char text[64];
  std::snprintf(text, sizeof(text), "%ldx%ldx%u", info.bmWidth, info.bmHeight,
                static_cast<unsigned>(info.bmBitsPixel));
  return text;
}

}  // namespace

std::string DescribeMenu(const std::vector<MenuItemView>& items, ULONG_PTR marker, int depth) {
  std::string out;
  for (const MenuItemView& item : items) {
    char data[32];
    if (item.data == marker)
      std::snprintf(data, sizeof(data), "module");
    else
      std::snprintf(data, sizeof(data), "0x%llx", static_cast<unsigned long long>(item.data));
    out += std::string(2 * depth + 2, ' ') + "id=" + std::to_string(item.id) + " \"" +
           Utf8(item.text) + "\" data=" + data + " bitmap=" + DescribeBitmap(item.bitmap) + "\n";
    if (item.has_submenu) out += DescribeMenu(item.submenu, marker, depth + 1);
  }
  return out;
}
