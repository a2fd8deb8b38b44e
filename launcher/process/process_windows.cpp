#include "process/process_windows.h"

#include <cstdio>
#include <string>

#include "base/log.h"
#include "config/launcher_config.h"

namespace {

// The console window that belongs to this process; searched once, by the window-watch thread.
bool g_consoleSearched = false;
HWND g_ownConsoleWindow = nullptr;

// The console window carries no mark of its process, so give it a title nobody else has,
// look that title up, and put the old one back.
HWND findOwnConsoleWindow() {
  if (config::executableType() == 1) return nullptr;
  char oldTitle[8192] = "";
  if (GetConsoleTitleA(oldTitle, sizeof oldTitle) == 0) return nullptr;
  char uniqueTitle[64];
  std::snprintf(uniqueTitle, sizeof uniqueTitle, "%lu/%lu", GetTickCount(), GetCurrentProcessId());
  if (!SetConsoleTitleA(uniqueTitle)) return nullptr;
  Sleep(40);
  HWND console = FindWindowA(nullptr, uniqueTitle);
  SetConsoleTitleA(oldTitle);
  return console;
}

template <typename Visit>
struct WindowWalk {
  DWORD processId;
  Visit& visit;
};

template <typename Visit>
BOOL CALLBACK visitIfVisibleOfProcess(HWND window, LPARAM param) {
  auto* walk = reinterpret_cast<WindowWalk<Visit>*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != walk->processId || !IsWindowVisible(window)) return TRUE;
  return walk->visit(window) ? TRUE : FALSE;
}

// Calls visit(window) for each visible top-level window of the process, front to back, while
// it answers true.
template <typename Visit>
void forEachVisibleWindow(DWORD processId, Visit visit) {
  WindowWalk<Visit> walk{processId, visit};
  EnumWindows(visitIfVisibleOfProcess<Visit>, reinterpret_cast<LPARAM>(&walk));
}

void activateWindow(HWND window, bool restore) {
  logInfo("found window %p", static_cast<void*>(window));
  // A disabled window waits for a modal dialog of its own (the progress dialog under the
  // runtime-missing dialog): brought to the front it would hide the dialog the user must answer
  // and take no input itself. That dialog is a visible window of the process and gets its turn.
  if (!IsWindowEnabled(window)) {
    logInfo("disabled, left behind its dialog");
    return;
  }
  if (restore && IsIconic(window)) {
    logInfo("restore");
    ShowWindow(window, SW_RESTORE);
  }
  logInfo("foreground");
  SetForegroundWindow(window);
  logInfo("popup");
  SetForegroundWindow(GetLastActivePopup(window));
  logInfo("done");
}

}  // namespace

int countVisibleProcessWindows(DWORD processId) {
  if (!g_consoleSearched) {
    g_consoleSearched = true;
    g_ownConsoleWindow = findOwnConsoleWindow();
  }
  int count = 0;
  forEachVisibleWindow(processId, [&count](HWND window) {
    if (window != g_ownConsoleWindow) ++count;
    return true;
  });
  return count;
}

void activateProcessWindows(DWORD processId, bool restoreMinimised) {
  forEachVisibleWindow(processId, [restoreMinimised](HWND window) {
    activateWindow(window, restoreMinimised);
    return true;
  });
}
