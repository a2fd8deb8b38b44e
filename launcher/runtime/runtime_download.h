// The runtime download over HTTP through WinINet, which is bound at run time.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Loads the system's wininet.dll by its full path and binds its entry points; once bound they
// stay bound. False (logged) when the library or an entry point is missing.
bool bindWinInet();

// Downloads url into destinationPath with progress on the window (none: silently). When
// expectedSha256 (64 hexadecimal digits) is given, an archive with another digest fails.
// A failed download leaves no file behind. Failures are logged; the result is false.
bool downloadFile(HWND progressWindow, const char* url, const char* destinationPath,
                  const std::string& expectedSha256 = std::string());

// Copies the open request's body of `length` bytes into destinationPath and closes the request
// and the internet handle on every path.
bool transferToFile(HWND progressWindow, void* internetHandle, void* request, uint32_t length,
                    const char* destinationPath, const std::string& expectedSha256 = std::string());
