// The launcher's fresh temporary directory and the extraction of the included files into it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/launch_flags.h"

// A writable temporary path; ends the process (message 1015) when there is none.
std::string chooseTempPath();
// A unique temporary file name in that path (the system creates the empty file).
std::string makeTempFileName();
// Creates g_tempDir (launch_flags.h) ("<temp file>_dir"), five attempts; ends the process
// (internal error TempDirNotCreated) on failure.
void createTempDirectory();
// "<temp path>nbo_p<pid>.tmp": how the launcher and the Java side find each other.
std::string makeProcessCommFileName(DWORD processId);
// Whether a subdirectory can be created and removed in directory.
bool probeWritableDirectory(const std::string& directory);

// Result of extractIncludedFiles and copyMaskedData.
enum ExtractResult { kExtractOk = 0, kExtractReadFailed = 1, kExtractWriteFailed = 2 };

// Writes every included file into g_tempDir (creating it first when asked). On a failure the
// directory is emptied and removed and the copy's result returned.
int extractIncludedFiles(bool createDirectory);
// Copies count bytes in large blocks, unmasking them when asked.
int copyMaskedData(HANDLE media, HANDLE output, int64_t count, bool unmask);
// Deletes everything inside directory, subdirectories with their contents included.
void emptyDirectory(const std::string& directory);
