// Owners of the device contexts and icon parts that the menu code opens and selects into: each
// is released on every path (icons and bitmaps: common/owners.h).
#pragma once

#include <windows.h>

#include "common/owners.h"

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
