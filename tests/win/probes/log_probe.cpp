// Drives the launcher's log and error routines from the command line, one scenario per process:
//   log_probe [--narrow ID=TEXT] [--wide ID=TEXT] COMMAND ARGS... [COMMAND ARGS...]
// Commands: info TEXT | error TEXT | keep | console | owner-none | show TEXT | showw TEXT |
//   config-error ID [ARG|-] | fatal TEXT | fatal-config ID [ARG|-] | fatal-message ID |
//   threads COUNT LINES | print-path | return CODE | tmp DIR (sets TMP before the first line) |
//   exit-normally CODE | terminate CODE (the immediate end) | exit-while-logging CODE (a thread logs without pause meanwhile) |
//   end-log (the end of the log as the process ends) | ended-dialog-owner (a dialog that made
//   itself the error owner has ended) | refused-work-thread (the progress dialog cannot start
//   its work thread) | watch PASSES (the window watch with that pass limit, beside one visible
//   window; the Java side reports its start a second after the limit)
// "keep" prints the kept log path on standard output; "print-path" prints it too (and so keeps it).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "base/launch_flags.h"
#include "base/log.h"
#include "base/win_text.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "install_markers.h"
#include "launch_sequence.h"

namespace {

std::u16string toUtf16(const char* text) {
  std::wstring wide = ansiToWide(text);
  return std::u16string(asUtf16(wide));
}

void logFromThreads(int threads, int lines) {
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, lines] {
      for (int i = 0; i < lines; ++i) {
        if (i % 2) logError("thread %d line %d padding-padding-padding-padding-padding-padding", t, i);
        else logInfo("thread %d line %d padding-padding-padding-padding-padding-padding", t, i);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
}

// A dialog without controls, built in memory: the probe carries no dialog resources.
struct alignas(4) EmptyDialogTemplate {
  DLGTEMPLATE header{WS_POPUP | WS_CAPTION | DS_MODALFRAME, 0, 0, 0, 0, 120, 40};
  WORD menu = 0, windowClass = 0, title = 0;
};

// Registers itself as the error owner as the progress dialog does, ends at once, and leaves its
// destruction to the progress dialog's procedure.
INT_PTR CALLBACK endingOwnerDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    setErrorOwner(dialog);
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  return message == WM_COMMAND ? FALSE : progressDialogProc(dialog, message, wParam, lParam);
}

HANDLE WINAPI refuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

[[noreturn]] void exitWhileLogging(unsigned code) {
  HANDLE firstLine = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread([firstLine] {
    for (unsigned line = 0;; ++line) {
      logInfo("busy line %u", line);
      SetEvent(firstLine);
    }
  }).detach();
  WaitForSingleObject(firstLine, 10000);
  exitNormally(code);
}

void watchWithPassLimit(int passes) {
  g_watchTimeoutPass = passes;
  HWND dialog = CreateWindowExA(0, "STATIC", "progress", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 100,
                                nullptr, nullptr, nullptr, nullptr);
  setInstallMarkers(true, true, false);
  std::printf("pid %lu\n", GetCurrentProcessId());
  std::fflush(stdout);
  std::thread([passes] {
    Sleep(static_cast<DWORD>(passes) * 100 + 1000);
    char name[64];
    std::snprintf(name, sizeof name, "InstallStarted_%lu", GetCurrentProcessId());
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\harwell\\nimbo", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      DWORD started = 2;
      RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&started), sizeof started);
      RegCloseKey(key);
    }
  }).detach();
  watchJavaWindow(dialog);
  DestroyWindow(dialog);
}

}  // namespace

int main(int argc, char** argv) {
  setErrorHooks({nullptr, nullptr, configuredErrorCaption, configuredWizardCaption});
  int i = 1;
  auto next = [&]() -> const char* {
    if (i >= argc) {
      std::fprintf(stderr, "log_probe: missing argument\n");
      std::exit(100);
    }
    return argv[i++];
  };
  while (i < argc) {
    std::string command = next();
    if (command == "--narrow" || command == "--wide") {
      std::string entry = next();
      std::size_t eq = entry.find('=');
      int id = std::atoi(entry.substr(0, eq).c_str());
      std::string value = entry.substr(eq + 1);
      if (command == "--narrow") g_config.narrow[id] = value;
      else g_config.wide[id] = toUtf16(value.c_str());
    } else if (command == "info") {
      logInfo("%s", next());
    } else if (command == "error") {
      logError("%s", next());
    } else if (command == "keep" || command == "print-path") {
      std::printf("%s\n", keepLog().c_str());
      std::fflush(stdout);
    } else if (command == "console") {
      useConsoleErrors();
    } else if (command == "show") {
      showError(next());
    } else if (command == "showw") {
      showErrorW(toUtf16(next()).c_str());
    } else if (command == "config-error" || command == "fatal-config") {
      int id = std::atoi(next());
      const char* arg = next();
      if (std::strcmp(arg, "-") == 0) arg = nullptr;
      if (command == "config-error") showConfigError(id, arg);
      else fatalConfigError(id, arg);
    } else if (command == "fatal") {
      fatalError(next());
    } else if (command == "fatal-message") {
      fatalMessage(std::atoi(next()));
    } else if (command == "threads") {
      int threads = std::atoi(next());
      int lines = std::atoi(next());
      logFromThreads(threads, lines);
    } else if (command == "tmp") {
      SetEnvironmentVariableA("TMP", next());
    } else if (command == "exit-normally") {
      exitNormally(static_cast<unsigned>(std::atoi(next())));
    } else if (command == "terminate") {
      exitWithCode(static_cast<unsigned>(std::atoi(next())));
    } else if (command == "exit-while-logging") {
      exitWhileLogging(static_cast<unsigned>(std::atoi(next())));
    } else if (command == "end-log") {
      deleteLogAtExit();
    } else if (command == "watch") {
      watchWithPassLimit(std::atoi(next()));
    } else if (command == "ended-dialog-owner" || command == "refused-work-thread") {
      EmptyDialogTemplate dialog;
      bool refuse = command == "refused-work-thread";
      if (refuse) g_createThread = refuseThread;
      DialogBoxIndirectParamA(GetModuleHandleA(nullptr), &dialog.header, nullptr,
                              refuse ? progressDialogProc : endingOwnerDialog, 0);
    } else if (command == "return") {
      return std::atoi(next());
    } else {
      std::fprintf(stderr, "log_probe: unknown command %s\n", command.c_str());
      return 100;
    }
  }
  return 0;
}
