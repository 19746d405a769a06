#include "config/configure.h"

#include <windows.h>

#include <io.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command/command_utils.h"
#include "common/owners.h"
#include "common/paths.h"
#include "common/recent_map.h"
#include "common/text_encoding.h"
#include "log/log.h"
#include "tinyxml2.h"

namespace {

// A thousand interpreters take about 150 KB.
constexpr DWORD kSettingsSizeLimit = 512 * 1024;
constexpr size_t kAttributeLimit = 1000;

std::string element_text(const tinyxml2::XMLElement* element) {
  const char* text = element->GetText();
  return text ? text : "";
}

bool named(const tinyxml2::XMLElement* element, const char* name) {
  return std::strcmp(element->Value(), name) == 0;
}

// Base-10 conversion by the rules of strtol, clamped to 32 bits. An element without text
// keeps the given fallback.
int element_level(const tinyxml2::XMLElement* element, int fallback) {
  const char* text = element->GetText();
  if (!text) return fallback;
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

PythonEntry read_entry(const tinyxml2::XMLElement* python) {
  PythonEntry entry;
  for (const tinyxml2::XMLElement* e = python->FirstChildElement(); e;
       e = e->NextSiblingElement()) {
    if (named(e, "path"))
      entry.path = element_text(e);
    else if (named(e, "version"))
      entry.version = element_text(e);
    else if (named(e, "bits"))
      entry.bits = element_text(e);
    else if (named(e, "desc"))
      entry.desc = element_text(e);
  }
  return entry;
}

void add_text_element(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name,
                      const std::string& text) {
  tinyxml2::XMLElement* element = doc.NewElement(name);
  element->SetText(text.c_str());
  parent->InsertEndChild(element);
}

// Every right-click loads the settings: each version of a file (its write time and size) is
// parsed once in the process (for the last few files read; the module reads one, the companion a
// few), and every load gets its own copy of the record.
StampedMemory<FileStamp, Config>& ParsedFiles() {
  static StampedMemory<FileStamp, Config> files(8);
  return files;
}

// The file's text as UTF-8: itself when it is valid UTF-8 (after an optional byte order mark),
// else its ANSI text converted.
std::string as_utf8(const std::string& text) {
  const size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (text.size() == start ||
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data() + start,
                          static_cast<int>(text.size() - start), nullptr, 0) > 0)
    return text;
  return to_narrow(to_wide(text, CP_ACP), CP_UTF8);
}

}  // namespace

std::wstring setting_to_wide(const std::string& text) { return to_wide(text, CP_UTF8); }

std::string wide_to_setting(const std::wstring& text) { return to_narrow(text, CP_UTF8); }

std::string menu_label(const PythonEntry& entry) {
  std::string label = "Python " + entry.version + " " + entry.bits;
  if (!entry.desc.empty()) label += "|" + entry.desc;
  return label;
}

bool Configure::load(const std::wstring& path) {
  if (path.empty()) return false;
  FileStamp stamp;
  const bool stamped = ReadFileStamp(path, &stamp);
  if (stamped && ParsedFiles().Find(path, stamp, &config)) return true;
  // Refused before it is read when its size says so; checked again once read (it may have grown).
  if (stamped && stamp.size > kSettingsSizeLimit) {
    log_write(LOG_ERROR, L"Settings file refused: %lu bytes",
              static_cast<unsigned long>(stamp.size));
    return false;
  }
  std::string text;
  if (!read_file(path, text)) return false;
  if (text.size() > kSettingsSizeLimit) {
    log_write(LOG_ERROR, L"Settings file refused: %lu bytes",
              static_cast<unsigned long>(text.size()));
    return false;
  }
  // The parser's time grows with the square of an element's attributes; settings have none.
  size_t attributes = 0;
  for (size_t at = text.find('='); at != std::string::npos; at = text.find('=', at + 1))
    attributes += at + 1 < text.size() && (text[at + 1] == '"' || text[at + 1] == '\'');
  if (attributes > kAttributeLimit) {
    log_write(LOG_ERROR, L"Settings file refused: %u attributes",
              static_cast<unsigned>(attributes));
    return false;
  }

  text = as_utf8(text);
  tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
  doc.Parse(text.data(), text.size());  // only whether a root element came out of it counts
  const tinyxml2::XMLElement* root = doc.FirstChildElement();
  if (!root) return false;

  Config fresh;
  for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (named(e, "version"))
      fresh.version = element_text(e);
    else if (named(e, "description"))
      fresh.description = element_text(e);
    else if (named(e, "python"))
      fresh.python.push_back(read_entry(e));
    else if (named(e, "command_line"))
      fresh.command_line = element_text(e);
    else if (named(e, "log_level"))
      fresh.log_level = element_level(e, Config().log_level);
    else if (named(e, "project_env"))
      fresh.project_env = element_text(e) == "1";
  }
  config = fresh;
  if (stamped) ParsedFiles().Keep(path, stamp, fresh);
  return true;
}

bool Configure::load(const std::string& path) { return load(to_wide(path, CP_ACP)); }

bool Configure::save(const std::wstring& path) const {
  if (path.empty()) return false;
  tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
  doc.InsertEndChild(doc.NewDeclaration());
  tinyxml2::XMLElement* root = doc.NewElement("configure");
  doc.InsertEndChild(root);
  add_text_element(doc, root, "version", config.version);
  add_text_element(doc, root, "description", config.description);
  add_text_element(doc, root, "command_line", config.command_line);
  tinyxml2::XMLElement* level = doc.NewElement("log_level");
  level->SetText(config.log_level);
  root->InsertEndChild(level);
  if (config.project_env) add_text_element(doc, root, "project_env", "1");  // absent means off
  for (const PythonEntry& entry : config.python) {
    tinyxml2::XMLElement* python = doc.NewElement("python");
    root->InsertEndChild(python);
    add_text_element(doc, python, "path", entry.path);
    add_text_element(doc, python, "version", entry.version);
    add_text_element(doc, python, "bits", entry.bits);
    if (!entry.desc.empty()) add_text_element(doc, python, "desc", entry.desc);
  }

  FileStream file(path, L"w");
  if (!file.get()) return false;
  bool written = doc.SaveFile(file.get(), false) == tinyxml2::XML_SUCCESS;
  // On the disk before anyone replaces the old file with this one.
  written = fflush(file.get()) == 0 && _commit(_fileno(file.get())) == 0 && !ferror(file.get()) &&
            written;
  return file.close() && written;
}

bool Configure::save(const std::string& path) const { return save(to_wide(path, CP_ACP)); }
