// Error reporting: a message with the log path, in a message box or on standard error,
// optionally followed by the immediate end of the process.
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/error_text.h"

// Shows the text with the log path (which is kept from now on); returns.
void showError(const char* text);
void showErrorW(const char16_t* text);
// Shows the configured narrow message of entryId with the first "{0}" replaced by argument.
void showConfigError(int32_t entryId, const char* argument = nullptr);

// The same, then the immediate process exit with code 1 (exit handlers do not run, so the log stays).
// Every end of the launcher before the Java program is called removes the extraction folder.
[[noreturn]] void fatalError(const char* text);
[[noreturn]] void fatalMessage(int32_t wideMessageId);
[[noreturn]] void fatalConfigError(int32_t entryId, const char* argument = nullptr);
// Message 1009 with the error's code.
[[noreturn]] void fatalInternalError(InternalError error);
[[noreturn]] void exitWithCode(unsigned code);
// The launcher's ordinary end (exit codes 0, 1 and 83): deletes the log unless it is kept, then
// ends the process at once. Other threads may still be verifying, extracting or logging, so no
// static destructor or C runtime exit handler may run under them.
[[noreturn]] void exitNormally(unsigned code);

// Owner window of later error boxes (the progress dialog registers itself).
void setErrorOwner(HWND owner);
// The window is being destroyed: later boxes get no owner, unless another window has registered
// since. A destroyed owner makes every later box fail without showing anything.
void forgetErrorOwner(HWND window);
// Registers owner and answers the window registered before it (to be given back afterwards).
HWND replaceErrorOwner(HWND owner);
// Errors go to standard error from now on instead of message boxes.
void useConsoleErrors();
