// The launcher's process entry.
#pragma once
#include <windows.h>

// Runs the launcher with the module instance and the command line after the program name.
int launcherMain(HINSTANCE instance, const char* commandTail);
