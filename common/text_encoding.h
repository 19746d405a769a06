// Conversions between narrow text in a code page and wide (UTF-16) text.
#pragma once

#include <windows.h>

#include <string>

// A leading U+FEFF is dropped; the result ends at the first zero character; empty input or
// a failed conversion gives the empty text.
std::wstring to_wide(const std::string& text, UINT code_page);
// Characters the code page cannot represent become its default character; the result ends
// at the first zero byte; empty input or a failed conversion gives the empty text.
std::string to_narrow(const std::wstring& text, UINT code_page);
