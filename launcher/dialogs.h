// Small helpers of the launcher's dialogs: centring and wide texts.
#pragma once
#include <windows.h>

#include <string>

// Centres the window on its owner, or on the desktop when it has none (size and Z order kept).
void centerWindow(HWND window);

// Grows the static text control to the height its word-wrapped text needs, and the dialog with
// it, moving the controls below the text down; never shrinks. Configured texts may be longer
// than the resource's space for them.
void fitTextHeight(HWND dialog, int itemId);

// Sets a wide text with the system's wide functions where it offers them, else converted to ANSI.
void setWindowTextWide(HWND window, const std::u16string& text);
void setDlgItemTextWide(HWND dialog, int itemId, const std::u16string& text);

// The progress dialog's bar (control 1001), set from any thread by message; no-ops without a window.
void setProgressRange(HWND dialog, int low, int high);
void setProgressPosition(HWND dialog, int position);

// A message box with the configured wide text of textId and the wizard caption (message 20013).
int showWizardMessage(HWND owner, int textId, UINT type);
