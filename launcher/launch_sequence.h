// The launcher's work routine: from a loaded configuration to a running Java program.
#pragma once
#include <windows.h>

// Runs the sequence with the progress dialog (or none); returns 0.
int runLaunchSequence(HWND progressWindow);
