#include "companion/tool_settings.h"

namespace {

std::wstring Trimmed(const std::wstring& text) {
  const size_t start = text.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return L"";
  return text.substr(start, text.find_last_not_of(L" \t") - start + 1);
}

// A quoted scalar from text[*at] (the opening quote), with YAML's and TOML's common escapes:
// doubled single quotes in '...'; \\ and \" in "...". Leaves *at behind the closing quote;
// false when there is none.
bool Quoted(const std::wstring& text, size_t* at, std::wstring* value) {
  const wchar_t quote = text[*at];
  value->clear();
  for (size_t i = *at + 1; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (quote == L'\'' && c == L'\'') {
      if (i + 1 < text.size() && text[i + 1] == L'\'') {
        *value += c;
        ++i;
        continue;
      }
      *at = i + 1;
      return true;
    }
    if (quote == L'"' && c == L'"') {
      *at = i + 1;
      return true;
    }
    if (quote == L'"' && c == L'\\' && i + 1 < text.size() &&
        (text[i + 1] == L'\\' || text[i + 1] == L'"' || text[i + 1] == L'/'))
      c = text[++i];
    *value += c;
  }
  return false;
}

// A value up to `stops` (outside quotes) or a comment (" #"); quotes removed.
std::wstring Scalar(const std::wstring& text, size_t* at, const wchar_t* stops) {
  while (*at < text.size() && (text[*at] == L' ' || text[*at] == L'\t')) ++*at;
  std::wstring value;
  if (*at < text.size() && (text[*at] == L'"' || text[*at] == L'\'')) {
    if (!Quoted(text, at, &value)) value.clear();
    while (*at < text.size() && !wcschr(stops, text[*at])) ++*at;
    return value;
  }
  size_t end = *at;
  while (end < text.size() && !wcschr(stops, text[end]) &&
         !(text[end] == L'#' && (end == 0 || text[end - 1] == L' ' || text[end - 1] == L'\t')))
    ++end;
  value = Trimmed(text.substr(*at, end - *at));
  *at = end;
  return value;
}

bool Comment(const std::wstring& text) {
  const std::wstring trimmed = Trimmed(text);
  return trimmed.empty() || trimmed[0] == L'#';
}

}  // namespace

std::vector<std::wstring> CondarcEnvsDirs(const std::vector<std::wstring>& lines) {
  static const std::wstring kKey = L"envs_dirs";
  std::vector<std::wstring> folders;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::wstring& line = lines[i];
    if (line.compare(0, kKey.size(), kKey) != 0) continue;
    size_t at = line.find_first_not_of(L" \t", kKey.size());
    if (at == std::wstring::npos || line[at] != L':') continue;
    ++at;
    std::wstring rest = Trimmed(line.substr(at));
    if (!rest.empty() && rest[0] == L'[') {  // [a, 'b c', "d"]
      size_t item = 1;
      while (item < rest.size() && rest[item] != L']') {
        std::wstring value = Scalar(rest, &item, L",]");
        if (!value.empty()) folders.push_back(value);
        if (item < rest.size() && rest[item] == L',') ++item;
      }
      return folders;
    }
    if (!Comment(rest)) return folders;  // a single value is no list
    for (++i; i < lines.size(); ++i) {   // "  - a" lines, comments between them
      if (Comment(lines[i])) continue;
      const std::wstring item = Trimmed(lines[i]);
      if (item[0] != L'-' || (item.size() > 1 && item[1] != L' ' && item[1] != L'\t')) break;
      size_t start = 1;
      std::wstring value = Scalar(item, &start, L"");
      if (!value.empty()) folders.push_back(value);
    }
    return folders;
  }
  return folders;
}

std::wstring PoetryVirtualenvsPath(const std::vector<std::wstring>& lines) {
  std::wstring table;
  for (const std::wstring& line : lines) {
    const std::wstring trimmed = Trimmed(line);
    if (!trimmed.empty() && trimmed[0] == L'[') {
      table = Trimmed(trimmed.substr(1, trimmed.find(L']') - 1));
      continue;
    }
    const size_t equals = trimmed.find(L'=');
    if (equals == std::wstring::npos || Comment(trimmed)) continue;
    const std::wstring key = Trimmed(trimmed.substr(0, equals));
    if ((table == L"virtualenvs" && key == L"path") ||
        (table.empty() && key == L"virtualenvs.path")) {
      size_t at = equals + 1;
      return Scalar(trimmed, &at, L"");
    }
  }
  return L"";
}
