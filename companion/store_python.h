// The Microsoft Store's Python. Each installed package puts 0-byte execution aliases in
// %LOCALAPPDATA%\Microsoft\WindowsApps\<family>\ (family
// PythonSoftwareFoundation.Python.3.12_qbz5n2kfra8p0); its files lie in
// %ProgramFiles%\WindowsApps\<name>_<version>_<arch>__<publisher id>\. An alias is a link the
// system resolves when it starts a program: its own file has no version and no header.
#pragma once

#include <string>

// The program an execution alias's link data names (the third of its strings); empty when
// `data` (what FSCTL_GET_REPARSE_POINT gives) is no such link.
std::wstring AppExecLinkTarget(const std::string& data);

// Whether `path` is an alias of a package: <...>\WindowsApps\<family>\<name>.exe.
bool IsPackageAlias(const std::wstring& path);

struct StorePackage {
  std::wstring executable;  // the package's own python.exe, for its resource and header
  std::wstring version;     // the package's version, 3.13.752.0
};

// The package behind `alias`: from the alias's link data, else the newest package of its
// family found by listing `program_files`\WindowsApps (which Windows may refuse).
bool StorePackageOf(const std::wstring& alias, const std::wstring& program_files,
                    StorePackage* package);
