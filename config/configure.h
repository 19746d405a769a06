// The user's settings: one XML file, config.cfg, beside the module.
#pragma once

#include <string>
#include <vector>

// The record's texts are UTF-8, whatever the file held: a file that is not valid UTF-8 (one
// written in the ANSI code page by an older version) is read as ANSI text, and every file is
// written in UTF-8. These two turn a setting into the system's wide text and back.
std::wstring setting_to_wide(const std::string& text);
std::string wide_to_setting(const std::wstring& text);

// One interpreter of the menu.
struct PythonEntry {
  std::string path;
  std::string version;
  std::string bits;
  std::string desc;  // shown only when not empty
};

// The text of the entry's menu item: "Python <version> <bits>", then "|<desc>" when there is one.
std::string menu_label(const PythonEntry& entry);

// The console a first configuration starts: Command Prompt with the prompt command.
constexpr char kDefaultCommandLine[] = "cmd.exe /k __PROMPT__";

struct Config {
  std::string version;
  std::string description;
  std::string command_line;
  int log_level = 4;  // the logger's own initial threshold, kept when the file names none
  // The start folder's own environment first in the menu: <project_env>1</project_env>; any
  // other value, or none (files written before the setting existed), leaves it out.
  bool project_env = false;
  std::vector<PythonEntry> python;
};

class Configure {
 public:
  // True when the file yielded a root element; the record is then replaced whole. On false
  // the record keeps what it held. The wide form opens any path; the narrow one takes a path
  // in the ANSI code page.
  bool load(const std::wstring& path);
  bool load(const std::string& path);
  // Writes the record, replacing the file. True when it was written completely.
  bool save(const std::wstring& path) const;
  bool save(const std::string& path) const;

  Config config;
};
