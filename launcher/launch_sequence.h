// The launcher's work routine, from a loaded configuration to a running Java program, with the
// progress dialog around it and the threads that move its bar.
#pragma once
#include <windows.h>

#include "base/launch_state.h"

// Runs the sequence for the launch with the progress dialog (or none); returns 0.
int runLaunchSequence(HWND progressWindow, LaunchState& state);

// The progress dialog (resource 103), started with the launch state as its parameter: starts the
// work thread on initialisation; Cancel ends it.
INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the bar toward 390 until a second window of the process is visible (or the Java
// program reports its start through the process marker), then hides the dialog.
DWORD WINAPI watchJavaWindow(LPVOID progressWindow);

// How the launcher starts its threads; tests replace it to see a refused thread handled.
extern decltype(&CreateThread) g_createThread;
// The pass of 100 ms in which the watch gives up waiting for the Java window (about four
// minutes); tests shorten it.
extern int g_watchTimeoutPass;
