#include "companion/interpreter_records.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "command/command_utils.h"
#include "command/handle_owners.h"

bool ReadRecordLines(const std::wstring& path, std::vector<std::wstring>* lines) {
  lines->clear();
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  std::string bytes(kRecordLimit + 1, '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
    return false;
  bytes.resize(read);
  if (bytes.size() > kRecordLimit) {  // the line the limit cuts goes, with all after it
    const size_t last = bytes.rfind('\n', kRecordLimit - 1);
    bytes.resize(last == std::string::npos ? 0 : last + 1);
  }
  const std::wstring text = decode_text(bytes);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find_first_of(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    lines->push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
  }
  return true;
}

std::wstring VersionText(const std::wstring& text) {
  if (text.empty() || text.size() > kVersionLimit || !iswdigit(text[0]) ||
      text.find_first_not_of(L"0123456789.") != std::wstring::npos)
    return L"";
  return text;
}

bool IsFullVersion(const std::wstring& text) {
  if (VersionText(text).empty() || text.back() == L'.') return false;
  size_t dots = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'.') continue;
    if (text[i - 1] == L'.') return false;
    ++dots;
  }
  return dots == 2;
}

std::wstring VenvVersion(const std::wstring& environment) {
  std::vector<std::wstring> lines;
  if (!ReadRecordLines(environment + L"\\pyvenv.cfg", &lines)) return L"";
  std::wstring text;
  for (const std::wstring& line : lines) text += line + L"\n";
  std::wstring value;
  if (CommandUtils::pyvenv_value(text, L"version", value) && !VersionText(value).empty())
    return value;
  if (!CommandUtils::pyvenv_value(text, L"version_info", value)) return L"";
  value = value.substr(0, value.find_first_not_of(L"0123456789."));
  while (!value.empty() && value.back() == L'.') value.pop_back();
  return VersionText(value);
}

std::wstring CondaVersion(const std::wstring& prefix) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((prefix + L"\\conda-meta\\python-*.json").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return L"";
  std::wstring version;
  do {  // python-3.11.5-h1234_0.json, not python-dateutil-2.8.2-....json or python_abi-...
    const std::wstring rest = entry.cFileName + 7;
    if (!rest.empty() && iswdigit(rest[0])) version = VersionText(rest.substr(0, rest.find(L'-')));
  } while (version.empty() && FindNextFileW(search, &entry));
  FindClose(search);
  return version;
}

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

std::wstring PointerWidth(const std::wstring& executable) {
  std::string head;
  FileStream file(executable, L"rb");
  if (!file.get()) return L"";
  head.resize(4096);
  head.resize(fread(&head[0], 1, head.size(), file.get()));
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return L"";
  uint32_t offset = 0;
  memcpy(&offset, &head[0x3C], sizeof(offset));
  if (offset > head.size() - 6 || head.compare(offset, 4, std::string("PE\0\0", 4)) != 0)
    return L"";
  uint16_t machine = 0;
  memcpy(&machine, &head[offset + 4], sizeof(machine));
  switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
    case IMAGE_FILE_MACHINE_ARM64:
      return L"64";
    case IMAGE_FILE_MACHINE_I386:
    case IMAGE_FILE_MACHINE_ARMNT:
      return L"32";
    default:
      return L"";
  }
}
