// A fresh folder under the temporary folder, removed with everything in it at the end.
#pragma once

#include <windows.h>

#include <string>

class TempDir {
 public:
  explicit TempDir(const std::wstring& name_part);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

bool WriteTextFile(const std::wstring& path, const std::string& bytes);
// Sets a file's or a folder's last write time; false when it cannot.
bool SetWriteTime(const std::wstring& path, const FILETIME& time);
// Sets a file's or a folder's last write time `seconds_ago`.
bool SetWrittenAgo(const std::wstring& path, int seconds_ago);
std::string ReadTextFile(const std::wstring& path);
bool RemoveTree(const std::wstring& path);

// The text as the debugger output stream delivers it from an ASCII-only reader's view:
// every character outside ASCII becomes '?'.
std::string Ascii(const std::wstring& text);
std::string Utf8(const std::wstring& text);
