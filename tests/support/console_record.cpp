#include "tests/support/console_record.h"

#include <windows.h>

#include "tools/explorer/temp_dir.h"

std::string WaitForRecord(const std::wstring& path) {
  for (int i = 0; i < 200; ++i) {
    std::string text = ReadTextFile(path);
    if (!text.empty()) return text;
    Sleep(50);
  }
  return "";
}

std::string RecordLine(const std::string& record, const std::string& key) {
  std::string lines = "\n" + record;
  size_t start = lines.find("\n" + key + "=");
  if (start == std::string::npos) return "<none>";
  start += key.size() + 2;
  return lines.substr(start, lines.find('\n', start) - start);
}
