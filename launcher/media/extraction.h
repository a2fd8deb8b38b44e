// The launcher's fresh temporary directory and the extraction of the included files into it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/launch_state.h"

// A writable temporary path; ends the process (message 1015) when there is none.
std::string chooseTempPath();
// A unique temporary file name in that path (the system creates the empty file).
std::string makeTempFileName();
// Creates the extraction folder ("<temp file>_dir"), five attempts, and returns its path; ends
// the process (internal error TempDirNotCreated) on failure.
std::string createTempDirectory();
// "<temp path>nbo_p<pid>.tmp": how the launcher and the Java side find each other.
std::string makeProcessCommFileName(DWORD processId);
// Whether a subdirectory can be created and removed in directory.
bool probeWritableDirectory(const std::string& directory);

// Result of extractIncludedFiles and copyMaskedData.
enum ExtractResult { kExtractOk = 0, kExtractReadFailed = 1, kExtractWriteFailed = 2 };

// Writes every included file into the state's extraction folder and records where the Java
// side's data begins. On a failure the folder is emptied and removed and the copy's result returned.
int extractIncludedFiles(LaunchState& state);
// Copies count bytes in large blocks, unmasking them when asked.
int copyMaskedData(HANDLE media, HANDLE output, int64_t count, bool unmask);
// Deletes everything inside directory, subdirectories with their contents included.
void emptyDirectory(const std::string& directory);
