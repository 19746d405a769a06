#include "companion/installed_versions.h"

#include <windows.h>

#include <vector>

#include "command/command_utils.h"

std::wstring ResourceVersion(const std::wstring& executable) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(executable.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<BYTE> data(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(executable.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      length < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != VS_FFI_SIGNATURE ||
      HIWORD(fixed->dwFileVersionMS) == 0)
    return L"";
  return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(fixed->dwFileVersionLS) / 1000);
}

std::wstring PackageVersionAsPython(const std::wstring& package_version) {
  std::vector<unsigned long> fields;
  for (size_t start = 0; start <= package_version.size() && fields.size() < 5;) {
    size_t end = package_version.find(L'.', start);
    if (end == std::wstring::npos) end = package_version.size();
    const std::wstring field = package_version.substr(start, end - start);
    if (field.empty() || field.size() > 5 || field.find_first_not_of(L"0123456789") != field.npos)
      return L"";
    fields.push_back(std::stoul(field));
    start = end + 1;
  }
  if (fields.size() != 4 || fields[0] == 0) return L"";
  return std::to_wstring(fields[0]) + L"." + std::to_wstring(fields[1]) + L"." +
         std::to_wstring(fields[2] >> 8);
}

std::wstring RecordedVersion(const std::wstring& interpreter) {
  const std::wstring folder = CommandUtils::dir_name(interpreter);
  for (const std::wstring& environment : {CommandUtils::dir_name(folder), folder}) {
    if (environment.empty()) continue;
    std::wstring version = VenvVersion(environment);
    if (!version.empty()) return version;
  }
  std::wstring version = CondaVersion(folder);
  return version.empty() ? ResourceVersion(interpreter) : version;
}
