// The name of the virtual environment an interpreter belongs to.
#include <windows.h>

#include <boost/algorithm/string/regex.hpp>
#include <boost/algorithm/string/replace.hpp>
#include <boost/regex.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "command/command_utils.h"
#include "common/classic_text.h"
#include "common/owners.h"
#include "common/paths.h"
#include "common/text_encoding.h"

namespace {

const wchar_t kScriptName[] = L"activate.bat";
const wchar_t kVenvConfigName[] = L"pyvenv.cfg";
const wchar_t kPromptPattern[] = L"PROMPT=\\((.*?)\\)";

}  // namespace

namespace CommandUtils {

std::wstring base_name(const std::wstring& path) {
  size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool pyvenv_value(const std::wstring& text, const std::wstring& key, std::wstring& value) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    size_t equals = line.find(L'=');
    if (equals != std::wstring::npos && EqualsNoCase(TrimCopy(line.substr(0, equals)), key)) {
      value = TrimCopy(line.substr(equals + 1));
      if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
          value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool get_venv_prompt(const std::wstring& interpreter, std::wstring& prompt) {
  prompt.clear();
  const std::wstring folder = dir_name(interpreter);

  // The environment's own record: above Scripts\ (a virtual environment), or beside the
  // interpreter.
  std::vector<std::wstring> roots;
  if (EqualsNoCase(base_name(folder), L"Scripts")) roots.push_back(dir_name(folder));
  roots.push_back(folder);
  for (const std::wstring& root : roots) {
    std::wstring config_path = root + L"\\" + kVenvConfigName;
    if (!file_exists(config_path)) continue;
    std::string bytes;
    if (!read_file(config_path, bytes)) continue;
    std::wstring name;
    if (!pyvenv_value(decode_text(bytes), L"prompt", name) || name.empty()) name = base_name(root);
    prompt = name;
    return true;
  }

  std::wstring script = folder + L"\\" + kScriptName;
  if (!file_exists(script)) return false;
  std::string bytes;
  if (!read_file(script, bytes)) return false;
  // Today's tools write PROMPT=(%VIRTUAL_ENV_PROMPT%): a definition that refers to a variable
  // names nothing.
  for (const std::wstring& match : regex_find_all(decode_text(bytes), kPromptPattern)) {
    if (match.find(L'%') != std::wstring::npos) continue;
    std::wstring name = EraseFirstNoCase(match, L"PROMPT=(");
    prompt = boost::algorithm::replace_all_copy(name, L")", L"");
    return true;
  }
  return false;
}

}  // namespace CommandUtils

std::vector<std::wstring> regex_find_all(const std::wstring& text, std::wstring pattern) {
  std::vector<std::wstring> matches;
  try {
    std::vector<boost::iterator_range<std::wstring::const_iterator>> found;
    boost::algorithm::find_all_regex(
        found, text, boost::wregex(pattern, boost::regex::perl | boost::regex::icase));
    for (const auto& range : found) matches.emplace_back(range.begin(), range.end());
  } catch (const std::exception&) {
    matches.clear();  // a text too complex for the expression: no match
  }
  return matches;
}

bool file_exists(const std::wstring& path) { return IsFile(path); }

bool read_file(const std::wstring& path, std::string& content) {
  // Shared for deletion too, so that the companion can replace config.cfg while a right-click
  // reads it.
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return false;
  // Files that matter here are a few kilobytes; a huge one is not a prompt definition.
  if (size.QuadPart < 0 || size.QuadPart > (16 << 20)) return false;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size()))
    return false;
  content.swap(bytes);
  return true;
}

std::wstring decode_text(const std::string& bytes) {
  std::string text = bytes.substr(0, bytes.find('\0'));
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
  return length > 0 ? to_wide(text, CP_UTF8) : to_wide(text, CP_ACP);
}
