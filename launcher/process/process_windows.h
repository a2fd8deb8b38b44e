// The top-level windows of a process: counting the launcher's own visible ones, and bringing
// another process's windows to the front.
#pragma once
#include <windows.h>

// Visible top-level windows of the process, the launcher's own console window excepted.
int countVisibleProcessWindows(DWORD processId);

// Brings every visible top-level window of the process to the front, restoring minimised ones
// when asked.
void activateProcessWindows(DWORD processId, bool restoreMinimised);
