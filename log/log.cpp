#include "log/log.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

std::atomic<int> g_threshold{LOG_INFO};
const wchar_t kPrefix[] = L"Velmar:";
// Indexed by level; the alphabetical order of the names, not an order of severity.
const wchar_t* const kLevelNames[] = {L"ALL",  L"DEBUG",   L"ERROR", L"FATAL",
                                      L"INFO", L"WARNING", L"",      L"MESSAGE"};
constexpr int kLevelCount = sizeof(kLevelNames) / sizeof(kLevelNames[0]);
constexpr int kBufferSize = kLogLineMax + 2;

// Microsoft's _vsnwprintf (the C99 printf family that libstdc++ switches on reads %s in a
// wide format as narrow). Writes at most capacity - 1 characters; the caller's buffer is
// zeroed, so the text stays terminated when it is cut.
void format_bounded(wchar_t* dest, int capacity, const wchar_t* format, va_list args) {
  if (capacity <= 1) return;
  _vsnwprintf(dest, static_cast<size_t>(capacity - 1), format, args);
  dest[capacity - 1] = L'\0';
}

void format_bounded(wchar_t* dest, int capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  format_bounded(dest, capacity, format, args);
  va_end(args);
}

}  // namespace

void log_set_level(int level) { g_threshold.store(level, std::memory_order_relaxed); }

int log_get_level() { return g_threshold.load(std::memory_order_relaxed); }

void log_write(int level, const wchar_t* format, ...) {
  if (level < log_get_level() && level != LOG_MESSAGE) return;

  wchar_t line[kBufferSize] = {};
  // Levels without an entry of their own (8 and above, and negative ones) are named INFO.
  const wchar_t* name = (level >= 0 && level < kLevelCount) ? kLevelNames[level] : L"INFO";
  format_bounded(line, kBufferSize - 1, L"%s[%s]", kPrefix, name);

  int header = lstrlenW(line);
  va_list args;
  va_start(args, format);
  format_bounded(line + header, kBufferSize - 1 - header, format, args);
  va_end(args);

  OutputDebugStringW(line);
}
