#include "common/fault_point.h"
#include "common/no_throw.h"
#include "common/paths.h"
#include "shellext/extensions_shell_ex.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "log/log.h"
#include "shellext/item_paths.h"
#include "shellext/menu_commands.h"

namespace {

const char kModuleVersion[] = "0.1";

// Owner of a storage medium filled by IDataObject::GetData.
class StorageMedium {
 public:
  StorageMedium() : medium_{} { medium_.tymed = TYMED_HGLOBAL; }
  ~StorageMedium() {
    if (filled_) ReleaseStgMedium(&medium_);
  }
  StorageMedium(const StorageMedium&) = delete;
  StorageMedium& operator=(const StorageMedium&) = delete;

  HRESULT Fill(IDataObject* data, FORMATETC* format) {
    HRESULT hr = data->GetData(format, &medium_);
    filled_ = SUCCEEDED(hr);
    return hr;
  }
  // The memory block, only when the data object answered with one (it may answer with a stream
  // or a file whatever was asked).
  HGLOBAL global() const { return medium_.tymed == TYMED_HGLOBAL ? medium_.hGlobal : nullptr; }

 private:
  STGMEDIUM medium_;
  bool filled_ = false;
};

// Whether a block holds a whole drop list: the DROPFILES header, then, at an offset inside the
// block, names ending with an empty one before the block does.
bool IsDropList(HGLOBAL global, const void* data) {
  const SIZE_T size = GlobalSize(global);
  const auto* header = static_cast<const DROPFILES*>(data);
  if (!data || size < sizeof(DROPFILES) || header->pFiles < sizeof(DROPFILES) ||
      header->pFiles >= size)
    return false;
  const char* at = static_cast<const char*>(data) + header->pFiles;
  const size_t unit = header->fWide ? sizeof(wchar_t) : 1;
  const size_t units = (size - header->pFiles) / unit;
  auto is_zero = [&](size_t k) {
    return header->fWide ? reinterpret_cast<const wchar_t*>(at)[k] == 0 : at[k] == 0;
  };
  // The first name may be empty only in an empty list; the list ends with two zeros.
  for (size_t k = 0; k < units; ++k)
    if (is_zero(k) && (k == 0 || (k + 1 < units && is_zero(k + 1)))) return true;
  return false;
}

// Holds a global memory block locked for its lifetime.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL global) : global_(global), data_(GlobalLock(global)) {}
  ~GlobalLockGuard() {
    if (data_) GlobalUnlock(global_);
  }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
  void* data() const { return data_; }

 private:
  HGLOBAL global_;
  void* data_;
};

// The path of the one item in the shell's list of the selection (which names it by ID list, so
// that its path may be a kept one), when it fits `path`. False for any other selection, and for
// a data object without such a list: the drop list answers then.
bool OneItemPath(IDataObject* data, wchar_t (&path)[MAX_PATH]) {
  static const CLIPFORMAT kIdLists =
      static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
  FORMATETC format = {kIdLists, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  StorageMedium medium;
  if (kIdLists == 0 || FAILED(medium.Fill(data, &format)) || !medium.global()) return false;
  GlobalLockGuard lock(medium.global());
  PidlPtr item(OneItemOfIdListArray(lock.data(), GlobalSize(medium.global())));
  const std::wstring found = item ? ItemPaths::Instance().PathOf(item.get()) : L"";
  if (found.empty() || found.size() >= MAX_PATH) return false;
  lstrcpyW(path, found.c_str());
  return true;
}

}  // namespace

CExtensionsShellEx::CExtensionsShellEx() : m_szFile{}, m_szFilePath{}, m_szModuleFileName{} {
  ResolveThemeEntryPoints();
}

std::wstring CExtensionsShellEx::GetModuleFolder() {
  if (!m_strModuleFolder.empty()) return m_strModuleFolder;
  DWORD length =
      GetModuleFileNameW(comfw::g_module->GetModuleInstance(), m_szModuleFileName, MAX_PATH);
  // A name that filled the whole buffer was cut: its folder would be a wrong one.
  if (length != 0 && length < MAX_PATH) {
    PathRemoveFileSpecW(m_szModuleFileName);
    int end = lstrlenW(m_szModuleFileName);
    if (end == 0 || m_szModuleFileName[end - 1] != L'\\') lstrcatW(m_szModuleFileName, L"\\");
  } else {
    log_write(LOG_MESSAGE, L"Error: Get Module File Name Failed");
    m_szModuleFileName[0] = L'\0';
  }
  m_strModuleFolder = m_szModuleFileName;
  return m_strModuleFolder;
}

bool CExtensionsShellEx::IsDirectory(std::wstring path) { return IsFolder(path); }

bool CExtensionsShellEx::FileExists(const wchar_t* path) { return IsFile(path); }

void CExtensionsShellEx::ApplyStartFolderRule() {
  lstrcpyW(m_szFilePath, m_szFile);
  if (!IsDirectory(m_szFile)) PathRemoveFileSpecW(m_szFilePath);
}

void CExtensionsShellEx::LogSelection() {
  log_write(LOG_DEBUG, L"m_szFile=%s", m_szFile);
  log_write(LOG_DEBUG, L"m_szFilePath=%s", m_szFilePath);
}

STDMETHODIMP CExtensionsShellEx::Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pDataObj,
                                            HKEY) {
  return NoThrow([&]() -> HRESULT {
    VELMAR_FAULT_POINT(L"Initialize");
    log_write(LOG_MESSAGE, L"==========Velmar DLL Initialize==========");
    // Without its own folder the module would read settings from the host's current folder.
    if (GetModuleFolder().empty()) return E_FAIL;
    m_strCompanionPath = m_strModuleFolder + kCompanionFileName;

    std::wstring config_path = m_strModuleFolder + kConfigFileName;
    bool loaded = configure.load(config_path);
    const Config& config = configure.config;
    if (log_get_level() <= LOG_INFO) {  // the settings dump, built only when it is written
      log_write(LOG_INFO, L"cfg:%s", config_path.c_str());
      log_write(LOG_INFO, L"cfg.load.success:%d", loaded ? 1 : 0);
      log_write(LOG_INFO, L"cfg.description:%s", setting_to_wide(config.description).c_str());
      log_write(LOG_INFO, L"cfg.version:%s", setting_to_wide(config.version).c_str());
      log_write(LOG_INFO, L"cfg.command_line:%s", setting_to_wide(config.command_line).c_str());
      log_write(LOG_INFO, L"cfg.log_level:%d", config.log_level);
      log_write(LOG_INFO, L"DLL.version:%S", kModuleVersion);
    }
    log_set_level(loaded ? config.log_level : LOG_INFO);

    log_write(LOG_DEBUG, L"CExtensionsShellEx::Initialize(pidlFolder=%p)", pidlFolder);
    ZeroMemory(m_szFile, sizeof(m_szFile));
    ZeroMemory(m_szFilePath, sizeof(m_szFilePath));
    // The folder's path counts only without a usable selection, or for the debug lines. Asking
    // the shell for it costs as much as the rest of the right-click, so it is asked only then.
    bool folder_read = false;
    auto read_folder = [&] {
      if (folder_read) return;
      folder_read = true;
      // A folder without a file-system path (or one too long for the array) leaves it empty.
      const std::wstring folder = ItemPaths::Instance().PathOf(pidlFolder);
      if (folder.size() < MAX_PATH) lstrcpyW(m_szFile, folder.c_str());
      ApplyStartFolderRule();
    };
    if (!pDataObj || log_get_level() <= LOG_DEBUG) {
      read_folder();
      LogSelection();
    }
    log_write(LOG_DEBUG, L"CExtensionsShellEx::Initialize(pDataObj=%p)", pDataObj);
    if (!pDataObj) return S_OK;
    if (OneItemPath(pDataObj, m_szFile)) {
      log_write(LOG_DEBUG, L"uNumFiles=%u", 1u);
      ApplyStartFolderRule();
      LogSelection();
      return S_OK;
    }

    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StorageMedium medium;
    if (FAILED(medium.Fill(pDataObj, &format))) {
      read_folder();
      return E_INVALIDARG;
    }
    GlobalLockGuard lock(medium.global());
    HDROP drop = static_cast<HDROP>(lock.data());
    if (!drop || !IsDropList(medium.global(), drop)) {
      read_folder();
      return E_INVALIDARG;
    }

    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    HRESULT hr = S_OK;
    log_write(LOG_DEBUG, L"uNumFiles=%u", count);
    if (count == 1) {
      // A path that does not fit would come back cut, naming another folder: refuse it.
      UINT length = DragQueryFileW(drop, 0, nullptr, 0);
      if (length >= MAX_PATH) {
        log_write(LOG_ERROR, L"Selected path too long: %u characters", length);
        hr = E_INVALIDARG;
      } else if (DragQueryFileW(drop, 0, m_szFile, MAX_PATH) == 0) {
        hr = E_INVALIDARG;
      }
    } else {
      hr = E_INVALIDARG;
    }
    if (FAILED(hr)) {  // the folder's path, as without a selection
      ZeroMemory(m_szFile, sizeof(m_szFile));
      folder_read = false;
      read_folder();
    }
    ApplyStartFolderRule();
    LogSelection();
    return hr;
  });
}
