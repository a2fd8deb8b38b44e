// The launcher's file-system path operations: its own path, resolution of configured relative
// paths against the executable's directory, existence probes and directory listing.
// Paths are ANSI (file-API code page) strings throughout.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/path_text.h"

// The running executable's path, computed on first use and kept for the process.
const std::string& executablePath();

// The path itself when absolute, otherwise prefixed with the directory of baseFile (or of
// the executable); backslashes collapsed.
std::string resolveAgainstExeDir(std::string_view path, const char* baseFile = nullptr);

// resolveAgainstExeDir, then the full path ("." and ".." removed), lower-cased unless keepCase.
std::string makeAbsolutePath(std::string_view path, bool keepCase);

// The current directory, however long; empty when it cannot be read.
std::string currentDirectory();

// The full path of a name relative to the current directory ("." and ".." removed).
std::string fullPathName(const std::string& path);

// Each element of a ";"-separated list resolved against the executable's directory.
std::string resolvePathList(std::string_view list);

// In place, through UTF-16; the text is left alone when the code page cannot take the result back.
void collapseBackslashes(std::string& path);
void lowercasePath(std::string& path);

// Drive roots exist without a probe; anything else exists when FindFirstFileA finds it.
bool pathExists(const char* path);

// Whether the path is found; its last-write time goes to *lastWrite when asked.
bool fileLastWriteTime(const char* path, FILETIME* lastWrite = nullptr);

// Names (not paths) of the entries of directory matching *.extension, in search order.
int listDirectory(const char* directory, const char* extension, std::vector<std::string>& names);

// Long form of a path with GetLongPathNameA semantics: the length written, or the size needed
// when dest is too small, or 0 with the last error set. Falls back to shellLongPathName where
// kernel32 lacks the call or reports it as not implemented.
DWORD getLongPathName(const char* shortPath, char* dest, DWORD size);
// The same through the shell's desktop folder (the substitute for old systems).
DWORD shellLongPathName(const char* shortPath, char* dest, DWORD size);
// Convenience form: the long path, or the input unchanged when it has none.
std::string longPathOrSame(const std::string& path);
