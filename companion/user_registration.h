// A copy of Velmar registered for the current user alone, without administrator rights: the
// module's classes and handler keys under HKCU\Software\Classes, the approved value under HKCU,
// and Windows 11's package with the copy's folder as its external location.
#pragma once

#include <string>
#include <vector>

// Registers the copy in `folder` (the settings put in place first when it has none). Each line
// of `said` is one thing to tell the user. Returns the exit code: 1 when nothing could be
// registered (then nothing was written), 0 otherwise, also when only the package failed.
int RegisterCopyForUser(const std::wstring& folder, std::vector<std::wstring>* said);

// Takes the current user's registration away when it names this copy's module; a registration
// of another copy is left as it is, and said so. Returns the exit code.
int UnregisterCopyForUser(const std::wstring& folder, std::vector<std::wstring>* said);
