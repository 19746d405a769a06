// Wide text by the classic ("C") locale's rules, as the C runtime classifies characters
// (iswspace, towupper), without the C++ locale machinery: that machinery would add most of a
// megabyte to a module that every Explorer window maps.
#pragma once

#include <cwctype>
#include <string>

inline bool IsClassicSpace(wchar_t c) { return std::iswspace(c) != 0; }

inline std::wstring TrimLeftCopy(const std::wstring& text) {
  size_t start = 0;
  while (start < text.size() && IsClassicSpace(text[start])) ++start;
  return text.substr(start);
}

inline std::wstring TrimCopy(const std::wstring& text) {
  size_t end = text.size();
  while (end > 0 && IsClassicSpace(text[end - 1])) --end;
  return TrimLeftCopy(text.substr(0, end));
}

inline std::wstring UpperCopy(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

inline bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && UpperCopy(a) == UpperCopy(b);
}

// `text` without the first occurrence of `part`, compared without case.
inline std::wstring EraseFirstNoCase(const std::wstring& text, const std::wstring& part) {
  const size_t at = UpperCopy(text).find(UpperCopy(part));
  if (part.empty() || at == std::wstring::npos) return text;
  return text.substr(0, at) + text.substr(at + part.size());
}
