// The launcher's process entry and the start-up services it uses.
#pragma once
#include <windows.h>

// Runs the launcher with the module instance and the ANSI command line after the program name;
// returns the exit status of an ordinary end (0).
int launcherMain(HINSTANCE instance, const char* commandTail);

// Attaches to the parent's console or allocates one; true when the process has a console then.
bool attachConsole();
// Registers "MyDialogClass", the window class of the progress dialog.
void registerDialogClass();
// Reboots Windows (after 5 s, with the shutdown privilege); gives up silently without it.
void rebootSystem();
