// The launcher's fresh temporary directory and the extraction of the included files into it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The launcher's temporary directory (no trailing backslash); empty until created. Written on
// the work thread before the Java VM starts, read afterwards.
extern std::string g_tempDir;
// File position right after the last extracted file: where the Java side's data begins (0 when
// nothing was extracted).
extern int64_t g_unextractedPosition;

// A writable temporary path; ends the process (message 1015) when there is none.
std::string chooseTempPath();
// A unique temporary file name in that path (the system creates the empty file).
std::string makeTempFileName();
// Creates g_tempDir ("<temp file>_dir"), five attempts; ends the process (1009, "7") on failure.
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
