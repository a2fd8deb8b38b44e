// The runtime download over HTTP through WinINet, which is bound at run time.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Loads the system's wininet.dll by its full path and binds its entry points; once bound they
// stay bound. False (logged) when the library or an entry point is missing.
bool bindWinInet();

// Downloads url into destinationPath with progress on the window (none: silently). A body that
// stops early is asked for again from where it stopped, a few times with growing pauses. When
// expectedSha256 (64 hexadecimal digits) is given, an archive with another digest fails.
// A failed or cancelled download leaves no file behind. Failures are logged; the result is false.
bool downloadFile(HWND progressWindow, const char* url, const char* destinationPath,
                  const std::string& expectedSha256 = std::string());

// Stops a running download at once (its reads and pauses end, its file is deleted) and any
// later one before it starts. True when no download runs any more within waitMillis.
bool cancelDownload(DWORD waitMillis);
// True once cancelDownload was called: a failed download was then no failure to report.
bool downloadCancelled();
