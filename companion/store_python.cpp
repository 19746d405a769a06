#include "companion/store_python.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "command/command_utils.h"
#include "common/owners.h"

namespace {

constexpr DWORD kAppExecLinkTag = 0x8000001B;  // IO_REPARSE_TAG_APPEXECLINK

std::wstring LinkTargetOf(const std::wstring& alias) {
  ScopedHandle link(CreateFileW(
      alias.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!link.valid()) return L"";
  std::string data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE, '\0');
  DWORD size = 0;
  if (!DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, &data[0],
                       static_cast<DWORD>(data.size()), &size, nullptr))
    return L"";
  data.resize(size);
  return AppExecLinkTarget(data);
}

// A package's full name: <name>_<version>_<arch>_<resource id>_<publisher id>.
bool SplitPackageName(const std::wstring& full_name, std::wstring* name, std::wstring* version,
                      std::wstring* publisher) {
  std::vector<std::wstring> fields;
  for (size_t start = 0; start <= full_name.size();) {
    size_t end = full_name.find(L'_', start);
    if (end == std::wstring::npos) end = full_name.size();
    fields.push_back(full_name.substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() != 5) return false;
  *name = fields[0];
  *version = fields[1];
  *publisher = fields[4];
  return true;
}

// 3.13.752.0 against 3.12.2032.0, field by field.
bool NewerVersion(const std::wstring& a, const std::wstring& b) {
  unsigned long fa[4] = {}, fb[4] = {};
  swscanf(a.c_str(), L"%lu.%lu.%lu.%lu", &fa[0], &fa[1], &fa[2], &fa[3]);
  swscanf(b.c_str(), L"%lu.%lu.%lu.%lu", &fb[0], &fb[1], &fb[2], &fb[3]);
  for (int i = 0; i < 4; ++i)
    if (fa[i] != fb[i]) return fa[i] > fb[i];
  return false;
}

}  // namespace

std::wstring AppExecLinkTarget(const std::string& data) {
  // Tag, data length, reserved; then a version (3) and NUL-ended strings: the package, the
  // application's identity, the target, the application's type.
  DWORD tag = 0, version = 0;
  USHORT length = 0;
  if (data.size() < 12) return L"";
  memcpy(&tag, &data[0], sizeof(tag));
  memcpy(&length, &data[4], sizeof(length));
  memcpy(&version, &data[8], sizeof(version));
  if (tag != kAppExecLinkTag || version != 3 || size_t(length) + 8 > data.size() || length < 4)
    return L"";
  std::wstring strings((length - 4) / sizeof(wchar_t), L'\0');
  memcpy(&strings[0], &data[12], strings.size() * sizeof(wchar_t));
  size_t start = 0;
  for (int index = 0; index < 2; ++index) {
    start = strings.find(L'\0', start);
    if (start == std::wstring::npos) return L"";
    ++start;
  }
  const size_t end = strings.find(L'\0', start);
  if (end == std::wstring::npos) return L"";
  std::wstring target = strings.substr(start, end - start);
  return target.size() > 3 && target[1] == L':' && target[2] == L'\\' ? target : L"";
}

bool IsPackageAlias(const std::wstring& path) {
  const std::wstring apps = CommandUtils::dir_name(CommandUtils::dir_name(path));
  return CompareStringOrdinal(CommandUtils::base_name(apps).c_str(), -1, L"WindowsApps", -1,
                              TRUE) == CSTR_EQUAL;
}

bool StorePackageOf(const std::wstring& alias, const std::wstring& program_files,
                    StorePackage* package) {
  std::wstring name, version, publisher;
  const std::wstring target = LinkTargetOf(alias);
  if (!target.empty() && file_exists(target) &&
      SplitPackageName(CommandUtils::base_name(CommandUtils::dir_name(target)), &name, &version,
                       &publisher)) {
    *package = {target, version};
    return true;
  }
  const std::wstring family = CommandUtils::base_name(CommandUtils::dir_name(alias));
  const size_t separator = family.rfind(L'_');
  if (program_files.empty() || separator == std::wstring::npos) return false;
  const std::wstring packages = program_files + L"\\WindowsApps\\";
  const std::wstring pattern = family.substr(0, separator) + L"_*__" + family.substr(separator + 1);
  WIN32_FIND_DATAW entry;
  const UniqueSearch search(FindFirstFileW((packages + pattern).c_str(), &entry));
  if (!search) return false;
  bool found = false;
  do {
    const std::wstring executable = packages + entry.cFileName + L"\\python.exe";
    if (SplitPackageName(entry.cFileName, &name, &version, &publisher) &&
        publisher == family.substr(separator + 1) && file_exists(executable) &&
        (!found || NewerVersion(version, package->version))) {
      *package = {executable, version};
      found = true;
    }
  } while (FindNextFileW(search.get(), &entry));
  return found;
}
