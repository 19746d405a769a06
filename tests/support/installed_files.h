// Files as installers and tools leave them, made from the stand-ins.
#pragma once

#include <string>

// Rewrites the copy of a stand-in program at `path` so that its version resource records
// `version` (X.Y.Z as CPython records it; "-" for none) and its header `bits` ("64" or "32").
// A 32-bit copy cannot start under this 64-bit Wine: it leaves no trace, and is never run.
bool RecordInExecutable(const std::wstring& path, const std::string& version,
                        const std::string& bits);

// A Unix symbolic link at `link` to `target` (Wine offers no way to make one: Linux's ln makes
// it); Wine shows it as a folder or file with the reparse-point attribute.
bool MakeUnixLink(const std::wstring& link, const std::wstring& target);
