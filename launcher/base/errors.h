// Error reporting: a message with the log path, in a message box or on standard error,
// optionally followed by the immediate end of the process.
#pragma once
#include <windows.h>

#include <string>

#include "base/error_text.h"

// What the launcher adds to every error and every end, registered once at its start, before any
// other thread runs. Unset, boxes have no title and the process just ends.
struct ErrorHooks {
  // Before a message is shown: stops the calling thread for good when another thread is ending
  // the launcher (its failure is then no error to show).
  void (*beforeShowing)() = nullptr;
  // Before the process ends: every end of the launcher before the Java program is called
  // removes the extraction folder.
  void (*beforeExit)() = nullptr;
  // The titles of narrow and wide message boxes.
  std::string (*narrowCaption)() = nullptr;
  std::u16string (*wideCaption)() = nullptr;
};
void setErrorHooks(const ErrorHooks& hooks);

// Shows the text with the log path (which is kept from now on); returns.
void showError(const char* text);
void showErrorW(const char16_t* text);

// The same, then the immediate process exit with code 1 (exit handlers do not run, so the log stays).
[[noreturn]] void fatalError(const char* text);
[[noreturn]] void fatalErrorW(const char16_t* text);
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
