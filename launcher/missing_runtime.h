// No usable runtime: the runtime-missing dialog, a java.exe located by hand, or the download.
#pragma once
#include <windows.h>

// Asks the user to locate or download a runtime; returns only when one was loaded.
void handleMissingRuntime(HWND progressWindow);
