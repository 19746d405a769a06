#include "command/interpreter_records.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "command/command_utils.h"
#include "common/owners.h"

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

bool ReadVenvRecord(const std::wstring& environment, std::vector<std::wstring>* lines) {
  return ReadRecordLines(environment + L"\\pyvenv.cfg", lines);
}

std::wstring VenvVersion(const std::wstring& environment) {
  std::vector<std::wstring> lines;
  return ReadVenvRecord(environment, &lines) ? VenvVersion(lines) : L"";
}

bool VenvValue(const std::vector<std::wstring>& lines, const std::wstring& key,
               std::wstring* value) {
  std::wstring text;
  for (const std::wstring& line : lines) text += line + L"\n";
  return CommandUtils::pyvenv_value(text, key, *value);
}

std::wstring VenvVersion(const std::vector<std::wstring>& lines) {
  std::wstring value;
  if (VenvValue(lines, L"version", &value) && !VersionText(value).empty()) return value;
  if (!VenvValue(lines, L"version_info", &value)) return L"";
  value = value.substr(0, value.find_first_not_of(L"0123456789."));
  while (!value.empty() && value.back() == L'.') value.pop_back();
  return VersionText(value);
}

std::wstring CondaVersion(const std::wstring& prefix) {
  WIN32_FIND_DATAW entry;
  const UniqueSearch search(
      FindFirstFileW((prefix + L"\\conda-meta\\python-*.json").c_str(), &entry));
  if (!search) return L"";
  std::wstring version;
  do {  // python-3.11.5-h1234_0.json, not python-dateutil-2.8.2-....json or python_abi-...
    const std::wstring rest = entry.cFileName + 7;
    if (!rest.empty() && iswdigit(rest[0])) version = VersionText(rest.substr(0, rest.find(L'-')));
  } while (version.empty() && FindNextFileW(search.get(), &entry));
  return version;
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
