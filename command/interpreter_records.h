// What an interpreter's own files record about it, read without running it (a folder may hold
// anything downloaded): a virtual environment's pyvenv.cfg, a conda prefix's conda-meta, the
// executable's header. No record is read past kRecordLimit bytes.
#pragma once

#include <string>
#include <vector>

constexpr size_t kRecordLimit = 64 * 1024;
// The longest version text taken from a record.
constexpr size_t kVersionLimit = 32;

// The lines of a text file (UTF-8, else the ANSI code page) within its first kRecordLimit bytes;
// a line the limit cuts is left out, never cut into a value. False when the file cannot be read.
bool ReadRecordLines(const std::wstring& path, std::vector<std::wstring>* lines);

// `text` when it is a version (a digit, then digits and dots, at most kVersionLimit characters);
// else empty.
std::wstring VersionText(const std::wstring& text);
// Whether `text` is X.Y.Z, three numbers.
bool IsFullVersion(const std::wstring& text);

// The lines of `environment`'s pyvenv.cfg; false when it cannot be read.
bool ReadVenvRecord(const std::wstring& environment, std::vector<std::wstring>* lines);
// The value of `key` in those lines, as a pyvenv.cfg is read; false when it has none.
bool VenvValue(const std::vector<std::wstring>& lines, const std::wstring& key,
               std::wstring* value);
// A pyvenv.cfg's `version`, else the numbers `version_info` starts with (3.11.4.final.0 gives
// 3.11.4); empty when neither is a version.
std::wstring VenvVersion(const std::vector<std::wstring>& lines);
std::wstring VenvVersion(const std::wstring& environment);
// The python record of a conda prefix: conda-meta\python-X.Y.Z-<build>.json.
std::wstring CondaVersion(const std::wstring& prefix);
// "64" or "32" from the executable's header (its machine type); empty when it is no program.
std::wstring PointerWidth(const std::wstring& executable);
