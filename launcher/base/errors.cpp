#include "base/errors.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "base/error_text.h"
#include "base/launch_flags.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/win_text.h"

namespace {

// Written by the main thread or the progress dialog before the errors it governs can occur.
std::atomic<HWND> g_errorOwner{nullptr};
// Set once at the start, before any thread that may report an error.
ErrorHooks g_hooks;

void beforeShowing() {
  if (g_hooks.beforeShowing) g_hooks.beforeShowing();
}

// The kept log's path in its long form, or empty when there is no log.
std::string logPathForMessage() {
  std::string path = keepLog();
  return path.empty() ? path : longPathOrSame(path);
}

}  // namespace

void showError(const char* text) {
  // A step that fails because another thread ends the launcher (and ended its children) is no
  // error to show.
  beforeShowing();
  std::string message = composeErrorText(text ? text : "", logPathForMessage());
  if (g_flags.guiErrors) {
    std::string caption = g_hooks.narrowCaption ? g_hooks.narrowCaption() : std::string();
    MessageBoxA(g_errorOwner.load(), message.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
  }
}

void showErrorW(const char16_t* text) {
  beforeShowing();
  std::wstring path = ansiToWide(logPathForMessage(), fileApiCodePage());
  std::u16string message = composeErrorText(text ? std::u16string_view(text) : std::u16string_view(),
                                            asUtf16(path));
  if (g_flags.guiErrors) {
    std::u16string caption = g_hooks.wideCaption ? g_hooks.wideCaption() : std::u16string();
    MessageBoxW(g_errorOwner.load(), asWide(message.c_str()), asWide(caption.c_str()), MB_ICONERROR | MB_OK);
  } else {
    std::string narrow = wideToAnsi(asWide(message));
    std::fprintf(stderr, "%s\n", narrow.c_str());
    std::fflush(stderr);
  }
}

void fatalError(const char* text) {
  showError(text);
  exitWithCode(1);
}

void fatalErrorW(const char16_t* text) {
  showErrorW(text);
  exitWithCode(1);
}

void exitWithCode(unsigned code) {
  if (g_hooks.beforeExit) g_hooks.beforeExit();
  std::fflush(stdout);
  std::fflush(stderr);
  // The operating system's exit: the C runtime's atexit handlers (log deletion) do not run.
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);
}

void exitNormally(unsigned code) {
  // First, so that a kept log tells whether the folder went.
  if (g_hooks.beforeExit) g_hooks.beforeExit();
  deleteLogAtExit();
  exitWithCode(code);
}

void setErrorHooks(const ErrorHooks& hooks) { g_hooks = hooks; }

void setErrorOwner(HWND owner) { g_errorOwner = owner; }

HWND replaceErrorOwner(HWND owner) { return g_errorOwner.exchange(owner); }

void forgetErrorOwner(HWND window) {
  HWND expected = window;
  g_errorOwner.compare_exchange_strong(expected, nullptr);
}

void useConsoleErrors() { g_flags.guiErrors = false; }
