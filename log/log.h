// Levelled lines on the debugger output stream, filtered by one process-wide threshold.
// Formats follow Microsoft's wide printf: %s takes a wide string, %S a narrow one.
#pragma once

enum LogLevel {
  LOG_ALL = 0,
  LOG_DEBUG = 1,
  LOG_ERROR = 2,
  LOG_FATAL = 3,
  LOG_INFO = 4,
  LOG_WARNING = 5,
  LOG_MESSAGE = 7,  // always sent, whatever the threshold
};

// Every line, prefix and level name included, holds at most this many characters.
constexpr int kLogLineMax = 1022;

void log_set_level(int level);
int log_get_level();
void log_write(int level, const wchar_t* format, ...);
