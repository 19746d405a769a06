// What an interpreter's own files record about it, read without running it (a folder may hold
// anything downloaded): a virtual environment's pyvenv.cfg, a conda prefix's conda-meta, the
// executable's version resource and header. No record is read past kRecordLimit bytes.
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

// pyvenv.cfg of `environment`: `version`, else the numbers `version_info` starts with
// (3.11.4.final.0 gives 3.11.4); empty when neither is a version.
std::wstring VenvVersion(const std::wstring& environment);
// The python record of a conda prefix: conda-meta\python-X.Y.Z-<build>.json.
std::wstring CondaVersion(const std::wstring& prefix);
// The version CPython records in its executable (FILEVERSION 3, 12, 4150: 3.12.4).
std::wstring ResourceVersion(const std::wstring& executable);
// A Store package's version as Python's: the third field is micro << 8 | level << 4 | serial,
// so 3.13.752.0 is 3.13.2.
std::wstring PackageVersionAsPython(const std::wstring& package_version);

// What the interpreter's records say, in that order: its environment's pyvenv.cfg (beside it or
// one folder up), conda-meta beside it, its executable's resource. Empty when none does.
std::wstring RecordedVersion(const std::wstring& interpreter);
// "64" or "32" from the executable's header (its machine type); empty when it is no program.
std::wstring PointerWidth(const std::wstring& executable);
