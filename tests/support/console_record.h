// What the console stand-in recorded about how it was started ("key=value" lines).
#pragma once

#include <string>

// The record once the console has written it (waits up to 10 s); empty if it never came.
std::string WaitForRecord(const std::wstring& path);
// The value of `key` in a record, or "<none>".
std::string RecordLine(const std::string& record, const std::string& key);
