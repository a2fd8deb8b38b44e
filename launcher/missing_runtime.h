// No usable runtime: the runtime-missing dialog, a java.exe located by hand, or the download.
#pragma once
#include <windows.h>

// Asks the user to locate or download a runtime (entry 157: downloads without asking). Returns
// with a located runtime loaded, or with the downloaded archive to unpack (jreIncluded set).
void handleMissingRuntime(HWND progressWindow);
