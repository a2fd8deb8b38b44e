// Error reporting: a message with the log path, in a message box or on standard error,
// optionally followed by the immediate end of the process.
#pragma once
#include <windows.h>

#include <cstdint>

// Shows the text with the log path (which is kept from now on); returns.
void showError(const char* text);
void showErrorW(const char16_t* text);
// Shows the configured narrow message of entryId with the first "{0}" replaced by argument.
void showConfigError(int32_t entryId, const char* argument = nullptr);

// The same, then the immediate process exit with code 1 (exit handlers do not run, so the log stays).
[[noreturn]] void fatalError(const char* text);
[[noreturn]] void fatalMessage(int32_t wideMessageId);
[[noreturn]] void fatalConfigError(int32_t entryId, const char* argument = nullptr);
[[noreturn]] void exitWithCode(unsigned code);

// Owner window of later error boxes (the progress dialog registers itself).
void setErrorOwner(HWND owner);
// Errors go to standard error from now on instead of message boxes.
void useConsoleErrors();
