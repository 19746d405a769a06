// Owners of the GDI and USER objects that the menu code opens: each is released on every path.
#pragma once

#include <windows.h>

#include <utility>

class UniqueIcon {
 public:
  explicit UniqueIcon(HICON icon = nullptr) : icon_(icon) {}
  ~UniqueIcon() {
    if (icon_) DestroyIcon(icon_);
  }
  UniqueIcon(const UniqueIcon&) = delete;
  UniqueIcon& operator=(const UniqueIcon&) = delete;
  HICON get() const { return icon_; }

 private:
  HICON icon_;
};

// A bitmap with one owner, which deletes it.
class UniqueBitmap {
 public:
  explicit UniqueBitmap(HBITMAP bitmap = nullptr) : bitmap_(bitmap) {}
  ~UniqueBitmap() { reset(); }
  UniqueBitmap(UniqueBitmap&& other) noexcept : bitmap_(std::exchange(other.bitmap_, nullptr)) {}
  UniqueBitmap& operator=(UniqueBitmap&& other) noexcept {
    if (this != &other) {
      reset();
      bitmap_ = std::exchange(other.bitmap_, nullptr);
    }
    return *this;
  }
  UniqueBitmap(const UniqueBitmap&) = delete;
  UniqueBitmap& operator=(const UniqueBitmap&) = delete;
  HBITMAP get() const { return bitmap_; }
  HBITMAP release() { return std::exchange(bitmap_, nullptr); }
  void reset(HBITMAP bitmap = nullptr) {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = bitmap;
  }

 private:
  HBITMAP bitmap_;
};

class MemoryDc {
 public:
  explicit MemoryDc(HDC compatible = nullptr) : dc_(CreateCompatibleDC(compatible)) {}
  ~MemoryDc() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Selects an object into a device context and puts the previous one back at the end.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() {
    if (ok()) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// The parts GetIconInfo hands out: both bitmaps belong to the caller.
class IconParts {
 public:
  explicit IconParts(HICON icon) : info_{} { ok_ = GetIconInfo(icon, &info_) != FALSE; }
  ~IconParts() {
    if (info_.hbmColor) DeleteObject(info_.hbmColor);
    if (info_.hbmMask) DeleteObject(info_.hbmMask);
  }
  IconParts(const IconParts&) = delete;
  IconParts& operator=(const IconParts&) = delete;
  bool ok() const { return ok_; }
  HBITMAP mask() const { return info_.hbmMask; }

 private:
  ICONINFO info_;
  bool ok_ = false;
};
