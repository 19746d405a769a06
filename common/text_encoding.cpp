#include "common/text_encoding.h"

#include <climits>
#include <vector>

std::wstring to_wide(const std::string& text, UINT code_page) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  int length = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1, L'\0');
  if (MultiByteToWideChar(code_page, 0, text.data(), length, buffer.data(), needed) <= 0)
    return std::wstring();
  const wchar_t* start = buffer.data();
  if (*start == 0xFEFF) ++start;
  return std::wstring(start);  // up to the first zero
}

std::string to_narrow(const std::wstring& text, UINT code_page) {
  if (text.empty() || text.size() >= INT_MAX) return std::string();
  int length = static_cast<int>(text.size()) + 1;  // with the terminator
  int needed =
      WideCharToMultiByte(code_page, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(needed) + 1, '\0');
  if (WideCharToMultiByte(code_page, 0, text.c_str(), length, buffer.data(), needed, nullptr,
                          nullptr) <= 0)
    return std::string();
  return std::string(buffer.data());  // up to the first zero
}
