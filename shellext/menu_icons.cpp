// Icons of the menu items: 32-bit bitmaps with alpha on Windows 6.0 and later, owner drawing
// before that.
#include <windows.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/fault_point.h"
#include "common/no_throw.h"
#include "shellext/extensions_shell_ex.h"
#include "common/owners.h"
#include "common/paths.h"
#include "shellext/icon_store.h"
#include "shellext/saved_icons.h"

namespace {

constexpr uint32_t kVersionUnknown = 0xFFFFFFFF;
std::atomic<uint32_t> g_versionCode{kVersionUnknown};
constexpr int kOwnerDrawIconSize = 16;

// The size Explorer draws menu icons at: the small-icon size for the system's DPI (Explorer is
// DPI-aware), where Windows can say it.
SIZE MenuIconSize() {
  typedef UINT(WINAPI * DpiForSystemFn)();
  typedef int(WINAPI * MetricsForDpiFn)(int, UINT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  static const auto dpi_for_system = reinterpret_cast<DpiForSystemFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForSystem")));
  static const auto metrics_for_dpi = reinterpret_cast<MetricsForDpiFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetSystemMetricsForDpi")));
  if (dpi_for_system && metrics_for_dpi) {
    UINT dpi = dpi_for_system();
    return {metrics_for_dpi(SM_CXSMICON, dpi), metrics_for_dpi(SM_CYSMICON, dpi)};
  }
  return {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)};
}

// The module's icon made at `size` from its largest image (sharper than a 16-pixel image
// stretched), where comctl32 offers that.
HICON LoadModuleIcon(UINT id, SIZE size) {
  typedef HRESULT(WINAPI * ScaleDownFn)(HINSTANCE, PCWSTR, int, int, HICON*);
  HINSTANCE instance = comfw::g_module->GetModuleInstance();
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  auto scale_down = comctl ? reinterpret_cast<ScaleDownFn>(reinterpret_cast<void*>(
                                 GetProcAddress(comctl, "LoadIconWithScaleDown")))
                           : nullptr;
  HICON icon = nullptr;
  if (scale_down && SUCCEEDED(scale_down(instance, MAKEINTRESOURCEW(id), size.cx, size.cy, &icon)))
    return icon;
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size.cx, size.cy, LR_DEFAULTCOLOR));
}

BITMAPINFO ArgbInfo(SIZE size) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = size.cy;  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

// The module as loaded, from its headers in memory: its link time and checksum, and its size.
// The file at its path may already be another (an upgrade replaces it while Explorer holds the
// old one), and reading the headers asks no file.
FileStamp LoadedModuleStamp() {
  const auto* base = reinterpret_cast<const BYTE*>(comfw::g_module->GetModuleInstance());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  FileStamp stamp;
  stamp.write_time = (static_cast<ULONGLONG>(headers->FileHeader.TimeDateStamp) << 32) |
                     headers->OptionalHeader.CheckSum;
  stamp.size = headers->OptionalHeader.SizeOfImage;
  return stamp;
}

}  // namespace

bool IsVersion6OrLater() {
  uint32_t code = g_versionCode.load(std::memory_order_relaxed);
  if (code == kVersionUnknown) {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    code = ((info.dwMajorVersion & 0xFF) << 8) | (info.dwMinorVersion & 0xFF);
    g_versionCode.store(code, std::memory_order_relaxed);
  }
  return code >= 0x0600;
}

CExtensionsShellEx::~CExtensionsShellEx() {
  for (const auto& held : m_mapIconBitmaps) IconStore::Instance().Release(held.second);
  for (const auto& held : m_mapFileIconBitmaps) IconStore::Instance().Release(held.second);
}

void CExtensionsShellEx::ResolveThemeEntryPoints() {
  if (!IsVersion6OrLater()) return;
  // Only a library the host already loaded; the handler takes no reference of its own.
  HMODULE uxtheme = GetModuleHandleW(L"UXTHEME.DLL");
  if (!uxtheme) return;
  m_pfnGetBufferedPaintBits = reinterpret_cast<GetBufferedPaintBitsFn>(
      reinterpret_cast<void*>(GetProcAddress(uxtheme, "GetBufferedPaintBits")));
  m_pfnBeginBufferedPaint = reinterpret_cast<BeginBufferedPaintFn>(
      reinterpret_cast<void*>(GetProcAddress(uxtheme, "BeginBufferedPaint")));
  m_pfnEndBufferedPaint = reinterpret_cast<EndBufferedPaintFn>(
      reinterpret_cast<void*>(GetProcAddress(uxtheme, "EndBufferedPaint")));
}

HBITMAP CExtensionsShellEx::GetResourceIconBitmap(UINT id) {
  auto cached = m_mapIconBitmaps.find(id);
  if (cached != m_mapIconBitmaps.end()) return cached->second;
  const SIZE size = MenuIconSize();
  const UINT key = (static_cast<UINT>(size.cx) << 16) | (id & 0xFFFF);  // one per size
  HBITMAP bitmap = IconStore::Instance().ResourceBitmap(key, [&]() -> HBITMAP {
    // Saved, as the files' icons, under the module's icon reference, with the loaded module's
    // own stamp.
    const std::wstring module = comfw::g_module->GetModulePath();
    const FileStamp stamp = LoadedModuleStamp();
    return SavedOrMade(module + L",-" + std::to_wstring(id & 0xFFFF), &stamp, [&]() -> HBITMAP {
      UniqueIcon icon(LoadModuleIcon(id & 0xFFFF, size));
      return icon.get() ? IconToMenuBitmap(icon.get()) : nullptr;
    });
  });
  if (bitmap) m_mapIconBitmaps.emplace(id, bitmap);
  return bitmap;
}

HBITMAP CExtensionsShellEx::GetFileIconBitmap(const std::wstring& path, int index) {
  auto cached = m_mapFileIconBitmaps.find(path);
  if (cached != m_mapFileIconBitmaps.end()) return cached->second;
  HBITMAP bitmap = IconStore::Instance().FileBitmap(path, [&](const FileStamp& stamp) {
    return SavedOrMade(path, &stamp, [&]() -> HBITMAP {
      // Only the large icon is drawn (scaled to small-icon size). The output is real only when
      // the call reports it: a failing call may leave garbage in it. A file without icons gives
      // none here, so there is no counting them first (that would read the file twice).
      HICON extracted = nullptr;
      if (ExtractIconExW(path.c_str(), index, &extracted, nullptr, 1) != 1) return nullptr;
      UniqueIcon icon(extracted);
      return IconToMenuBitmap(icon.get());
    });
  });
  if (bitmap) m_mapFileIconBitmaps.emplace(path, bitmap);
  return bitmap;
}

HBITMAP CExtensionsShellEx::SavedOrMade(const std::wstring& source, const FileStamp* stamp,
                                        const std::function<HBITMAP()>& make) {
  const SIZE size = MenuIconSize();
  std::vector<uint32_t> pixels;
  void* bits = nullptr;
  HBITMAP bitmap = nullptr;
  if (stamp && SavedIcons::Instance().Pixels(source, *stamp, size, &pixels) &&
      SUCCEEDED(CreateArgbDib(nullptr, size, &bits, &bitmap))) {
    std::memcpy(bits, pixels.data(), pixels.size() * sizeof(uint32_t));
    return bitmap;
  }
  HBITMAP made = make();
  if (stamp) SavedIcons::Instance().Keep(source, *stamp, made);
  return made;
}

HBITMAP CExtensionsShellEx::IconToMenuBitmap(HICON icon) {
  if (!m_pfnGetBufferedPaintBits || !m_pfnBeginBufferedPaint || !m_pfnEndBufferedPaint)
    return nullptr;
  SIZE size = MenuIconSize();
  RECT rect = {0, 0, size.cx, size.cy};
  UniqueDc dc(CreateCompatibleDC(nullptr));
  if (!dc.get()) return nullptr;
  HBITMAP bitmap = nullptr;
  if (FAILED(CreateArgbDib(dc.get(), size, nullptr, &bitmap))) return nullptr;

  DcSelection selected(dc.get(), bitmap);
  if (!selected.ok()) return bitmap;
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  BP_PAINTPARAMS params = {sizeof(params), BPPF_ERASE, nullptr, &blend};
  HDC buffer_dc = nullptr;
  HPAINTBUFFER buffer = m_pfnBeginBufferedPaint(dc.get(), &rect, BPBF_DIB, &params, &buffer_dc);
  if (buffer) {
    if (DrawIconEx(buffer_dc, 0, 0, icon, size.cx, size.cy, 0, nullptr, DI_NORMAL))
      CompleteAlpha(buffer, dc.get(), icon, size);
    m_pfnEndBufferedPaint(buffer, TRUE);
  }
  return bitmap;
}

HRESULT CExtensionsShellEx::CreateArgbDib(HDC dc, SIZE size, void** bits, HBITMAP* bitmap) {
  BITMAPINFO info = ArgbInfo(size);
  // With colours given as RGB values the device context is not consulted: it may be null.
  *bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  return *bitmap ? S_OK : E_OUTOFMEMORY;
}

HRESULT CExtensionsShellEx::CompleteAlpha(HPAINTBUFFER buffer, HDC dc, HICON icon, SIZE size) {
  RGBQUAD* quads = nullptr;
  int row_width = 0;
  HRESULT hr = m_pfnGetBufferedPaintBits(buffer, &quads, &row_width);
  if (FAILED(hr)) return hr;
  uint32_t* pixels = reinterpret_cast<uint32_t*>(quads);
  if (AnyAlphaSet(pixels, size, row_width)) return hr;  // the icon brought its own alpha
  ICONINFO parts = {};                                  // both bitmaps belong to the caller
  if (!GetIconInfo(icon, &parts)) return hr;
  UniqueBitmap color(parts.hbmColor), mask(parts.hbmMask);
  if (mask) hr = AlphaFromMask(dc, pixels, mask.get(), size, row_width);
  return hr;
}

bool CExtensionsShellEx::AnyAlphaSet(const uint32_t* pixels, SIZE size, int row_width) {
  for (int y = 0; y < size.cy; ++y, pixels += row_width - size.cx)
    for (int x = 0; x < size.cx; ++x, ++pixels)
      if (*pixels & 0xFF000000) return true;
  return false;
}

// The mask is drawn at the bitmap's size first, so that the mask of an icon larger than the
// menu bitmap (an executable's large icon, scaled down when drawn) matches what was drawn.
HRESULT CExtensionsShellEx::AlphaFromMask(HDC dc, uint32_t* pixels, HBITMAP mask, SIZE size,
                                          int row_width) {
  HRESULT hr = E_OUTOFMEMORY;
  void* bits = nullptr;
  HBITMAP scaled = nullptr;
  if (FAILED(CreateArgbDib(dc, size, &bits, &scaled))) return hr;
  UniqueBitmap scaled_owner(scaled);
  hr = E_UNEXPECTED;
  BITMAP mask_info = {};
  if (!GetObjectW(mask, sizeof(mask_info), &mask_info)) return hr;
  {
    UniqueDc source(CreateCompatibleDC(dc)), target(CreateCompatibleDC(dc));
    if (!source.get() || !target.get()) return hr;
    DcSelection from(source.get(), mask), to(target.get(), scaled);
    if (!from.ok() || !to.ok()) return hr;
    SetStretchBltMode(target.get(), COLORONCOLOR);
    if (!StretchBlt(target.get(), 0, 0, size.cx, size.cy, source.get(), 0, 0, mask_info.bmWidth,
                    mask_info.bmHeight, SRCCOPY))
      return hr;
  }
  GdiFlush();
  const uint32_t* mask_pixels = static_cast<const uint32_t*>(bits);
  for (int y = 0; y < size.cy; ++y, pixels += row_width - size.cx) {
    for (int x = 0; x < size.cx; ++x, ++pixels, ++mask_pixels) {
      if (*mask_pixels & 0x00FFFFFF)
        *pixels = 0;
      else
        *pixels |= 0xFF000000;
    }
  }
  return S_OK;
}

STDMETHODIMP CExtensionsShellEx::HandleMenuMsg(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return NoThrow([&]() -> HRESULT {
    LRESULT result = 0;
    return HandleMenuMsg2(uMsg, wParam, lParam, &result);
  });
}

STDMETHODIMP CExtensionsShellEx::HandleMenuMsg2(UINT uMsg, WPARAM, LPARAM lParam,
                                                LRESULT* plResult) {
  return NoThrow([&]() -> HRESULT {
    VELMAR_FAULT_POINT(L"HandleMenuMsg2");
    if (uMsg == WM_MEASUREITEM) {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (!measure) return S_OK;
      measure->itemWidth = kOwnerDrawIconSize;
      measure->itemHeight = kOwnerDrawIconSize;
      if (plResult) *plResult = TRUE;
    } else if (uMsg == WM_DRAWITEM) {
      auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (!draw || draw->CtlType != ODT_MENU) return S_OK;
      auto found = m_mapCmdIcons.find(draw->itemID);
      if (found == m_mapCmdIcons.end() || (found->second & 0xFFFF) == 0) return S_OK;
      UniqueIcon icon(static_cast<HICON>(
          LoadImageW(comfw::g_module->GetModuleInstance(), MAKEINTRESOURCEW(found->second & 0xFFFF),
                     IMAGE_ICON, kOwnerDrawIconSize, kOwnerDrawIconSize, LR_DEFAULTCOLOR)));
      if (!icon.get()) return S_OK;
      const RECT& r = draw->rcItem;
      DrawIconEx(draw->hDC, r.left, r.top + (r.bottom - r.top - kOwnerDrawIconSize) / 2, icon.get(),
                 kOwnerDrawIconSize, kOwnerDrawIconSize, 0, nullptr, DI_NORMAL);
      if (plResult) *plResult = TRUE;
    }
    return S_OK;
  });
}
