// The process's DLL search: the current directory and the launcher's own directory (often a
// downloads folder where anyone may have left a DLL) are taken out of it where the system allows.
#pragma once
#include <string>

// Called first at start-up. Where SetDefaultDllDirectories exists, libraries loaded without a
// full path come only from the system directory and the directories added below; elsewhere,
// where SetDllDirectoryA exists, the current directory is at least removed.
void restrictDllSearch();

// The fresh extraction folder, whose native libraries the Java program loads by name. Added to
// the restricted search; where the search cannot be restricted it takes the place the current
// directory had (SetDllDirectoryA), so that it is still searched, right after the launcher's
// own folder.
void addExtractionDirectoryToDllSearch(const std::string& directory);

// A directory that the launcher also puts on PATH for libraries (the runtime's bin directory,
// the native library directories): searched too while the search is restricted, since PATH is
// not then. Returns a cookie for removeDllSearchDirectory, or null when nothing was added.
void* addDllSearchDirectory(const std::string& directory);

// LoadLibraryExA flags for a library named by its full path whose own imports must come from
// its directory: for a restricted search its directory, the added directories and the system
// directory, never the launcher's own folder (LOAD_LIBRARY_SEARCH_DEFAULT_DIRS would search it
// first; LOAD_WITH_ALTERED_SEARCH_PATH may not be mixed with these); the altered search order
// elsewhere.
unsigned long fullPathLoadFlags();
void removeDllSearchDirectory(void* cookie);

// A function of a system library that only some runs need (the progress bar's controls, the file
// dialog, the shell's names), loaded on first use: an imported library is loaded at every start,
// quiet or not. Loaded by name, so that the manifest's activation context and the restricted
// search decide which one comes. Null when the library or the function is missing.
void* systemLibraryFunction(const char* library, const char* name);
template <typename Function>
Function systemFunction(const char* library, const char* name) {
  return reinterpret_cast<Function>(systemLibraryFunction(library, name));
}
