// The version an installed interpreter records where no environment record says it: the
// executable's version resource, a Store package's version.
#pragma once

#include <string>

#include "command/interpreter_records.h"

// The version CPython records in its executable (FILEVERSION 3, 12, 4150: 3.12.4).
std::wstring ResourceVersion(const std::wstring& executable);
// A Store package's version as Python's: the third field is micro << 8 | level << 4 | serial,
// so 3.13.752.0 is 3.13.2.
std::wstring PackageVersionAsPython(const std::wstring& package_version);

// What the interpreter's records say, in that order: its environment's pyvenv.cfg (beside it or
// one folder up), conda-meta beside it, its executable's resource. Empty when none does.
std::wstring RecordedVersion(const std::wstring& interpreter);
