// Proves that the appended data arrived intact before anything is extracted: a CRC-32 over the
// checked length behind the header, compared with the stored checksum.
#pragma once
#include <windows.h>

// Returns when the data is intact or the check is switched off ("-nocheck", or a checksum flag
// of 0); otherwise shows the corrupted-file message (standard error in quiet mode) and ends the
// process with code 1. Drives the progress bar (control 1001) of the window from 0 to 100.
void verifyMediaIntegrity(HWND progressWindow);
