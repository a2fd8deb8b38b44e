// The launcher's diagnostic log: one plain-text line per event, created on first use in the
// temporary directory and deleted at a normal exit unless something asked to keep it.
#pragma once
#include <string>

#ifdef __MINGW_PRINTF_FORMAT
#define PATHMERE_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#else
#define PATHMERE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// One line; safe from any thread, each line reaches the file whole. Never reports its own failures.
void logInfo(const char* format, ...) PATHMERE_PRINTF(1, 2);
// The same line prefixed "ERROR: ".
void logError(const char* format, ...) PATHMERE_PRINTF(1, 2);

// Keeps the file at exit; returns its path (empty when no log was ever opened).
std::string keepLog();

// Ends the log: deletes the file unless it is kept. Lines written afterwards (by threads that are
// still running while the process ends) are dropped, so none of them re-creates the file.
void deleteLogAtExit();
