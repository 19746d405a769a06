// The "Python here" submenu: one item per configured interpreter and the companion item.
#include <windows.h>

#include <string>

#include "common/fault_point.h"
#include "common/no_throw.h"
#include "common/text_encoding.h"
#include "log/log.h"
#include "common/resource_ids.h"
#include "shellext/extensions_shell_ex.h"
#include "shellext/menu_commands.h"
#include "shellext/saved_icons.h"

namespace {

constexpr UINT kItemMask = MIIM_ID | MIIM_DATA | MIIM_STRING;

HINSTANCE ModuleInstance() { return comfw::g_module->GetModuleInstance(); }

}  // namespace

bool CExtensionsShellEx::MenuAlreadyExtended(HMENU hmenu) const {
  int count = GetMenuItemCount(hmenu);
  for (int position = 0; position < count; ++position) {
    wchar_t text[MAX_PATH] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_DATA;
    info.dwTypeData = text;
    info.cch = MAX_PATH;
    GetMenuItemInfoW(hmenu, position, TRUE, &info);
    if (info.dwItemData == reinterpret_cast<ULONG_PTR>(ModuleInstance())) return true;
  }
  return false;
}

STDMETHODIMP CExtensionsShellEx::QueryContextMenu(HMENU hmenu, UINT menuIndex, UINT uidFirstCmd,
                                                  UINT uidLastCmd, UINT uFlags) {
  return NoThrow([&]() -> HRESULT {
    VELMAR_FAULT_POINT(L"QueryContextMenu");
    log_write(LOG_DEBUG,
              L"CExtensionsShellEx::QueryContextMenu(menuIndex=%u,uidLastCmd=%u,uFlags=%u)",
              menuIndex, uidLastCmd, uFlags);
    if (uFlags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    if (MenuAlreadyExtended(hmenu)) {
      log_write(LOG_DEBUG, L"Menu already added");
      return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    }
    m_mapCommands.clear();
    UINT offset = 1;
    // Identifiers past uidLastCmd belong to other handlers: add only what fits.
    auto fits = [&](UINT at) { return uidFirstCmd + at <= uidLastCmd && uidFirstCmd + at >= at; };
    if (!fits(offset)) {
      log_write(LOG_ERROR, L"No command identifier left for the menu");
      return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    }

    HMENU submenu = CreateMenu();
    MENUITEMINFOW item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_DATA | MIIM_STRING | MIIM_BITMAP;
    item.wID = uidFirstCmd + offset;
    item.hSubMenu = submenu;
    item.dwItemData = reinterpret_cast<ULONG_PTR>(ModuleInstance());
    item.dwTypeData = const_cast<wchar_t*>(kPythonHereLabel);
    item.hbmpItem = IsVersion6OrLater() ? GetResourceIconBitmap(IDI_MODULE_ICON) : HBMMENU_CALLBACK;
    if (!InsertMenuItemW(hmenu, menuIndex, TRUE, &item)) {
      // The host's menu does not hold the submenu: nobody else would ever destroy it.
      if (submenu) DestroyMenu(submenu);
      return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    }
    ++menuIndex;
    ++offset;

    log_write(LOG_DEBUG, L"configure.config.python.size():%d",
              static_cast<int>(configure.config.python.size()));
    const std::vector<MenuCommand> commands =
        MenuCommands(configure.config, m_strCompanionPath, m_szFilePath);
    const size_t interpreters = commands.size() - (!commands.empty() && commands.back().companion);
    for (const MenuCommand& command : commands) {
      if (command.companion || !fits(offset)) break;
      UINT used =
          AddFileIconItem(submenu, command.label, command.path, 0, uidFirstCmd, offset, menuIndex);
      m_mapCommands[used] = command;
      ++menuIndex;
      ++offset;
    }

    UINT added = offset - 2;
    if (added < interpreters)
      log_write(LOG_ERROR, L"Menu full: %u of %u interpreters shown", added,
                static_cast<unsigned>(interpreters));
    if (!fits(offset)) {
      log_write(LOG_ERROR, L"Menu full: Open Velmar not shown");
    } else if (!commands.empty() && commands.back().companion) {
      UINT used = AddResourceIconItem(submenu, commands.back().label, IDI_MODULE_ICON, uidFirstCmd,
                                      offset, menuIndex);
      m_mapCommands[used] = commands.back();
      ++menuIndex;
      ++offset;
    } else {
      log_write(LOG_DEBUG, L"VelmarPath:%s not found!", m_strCompanionPath.c_str());
    }
    SavedIcons::Instance().Save();  // icons made for this menu, for the next process
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, offset);
  });
}

UINT CExtensionsShellEx::AddFileIconItem(HMENU menu, std::wstring label, std::wstring icon_path,
                                         int icon_index, UINT first_id, UINT offset,
                                         UINT position) {
  MENUITEMINFOW item = {};
  item.cbSize = sizeof(item);
  item.fMask = kItemMask;
  if (!icon_path.empty()) {
    item.fMask |= MIIM_BITMAP;
    item.hbmpItem =
        IsVersion6OrLater() ? GetFileIconBitmap(icon_path, icon_index) : HBMMENU_CALLBACK;
  }
  item.wID = first_id + offset;
  item.dwItemData = reinterpret_cast<ULONG_PTR>(ModuleInstance());
  item.dwTypeData = &label[0];
  InsertMenuItemW(menu, position, TRUE, &item);
  return offset;
}

UINT CExtensionsShellEx::AddResourceIconItem(HMENU menu, std::wstring label, UINT icon_id,
                                             UINT first_id, UINT offset, UINT position) {
  MENUITEMINFOW item = {};
  item.cbSize = sizeof(item);
  item.fMask = kItemMask;
  if (icon_id != 0) {
    item.fMask |= MIIM_BITMAP;
    item.hbmpItem = IsVersion6OrLater() ? GetResourceIconBitmap(icon_id) : HBMMENU_CALLBACK;
    m_mapCmdIcons[offset] = icon_id;
    m_mapCmdIcons[first_id + offset] = icon_id;
  }
  item.wID = first_id + offset;
  item.dwItemData = reinterpret_cast<ULONG_PTR>(ModuleInstance());
  item.dwTypeData = &label[0];
  InsertMenuItemW(menu, position, TRUE, &item);
  return offset;
}
