#include "base/dll_search.h"

#include <windows.h>

#include <vector>

namespace {

// Looked up, not imported: Vista and 7 without the 2011 loader update lack the first three, and
// the launcher must still start there.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using AddDllDirectoryFunction = void*(WINAPI*)(const wchar_t*);
using RemoveDllDirectoryFunction = BOOL(WINAPI*)(void*);
using SetDllDirectoryFunction = BOOL(WINAPI*)(const char*);

// Written once by restrictDllSearch on the main thread before any other thread starts.
bool g_restricted = false;

FARPROC kernelFunction(const char* name) { return GetProcAddress(GetModuleHandleA("kernel32.dll"), name); }

}  // namespace

void restrictDllSearch() {
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(kernelFunction("SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS)) g_restricted = true;
  // Also drops the current directory from the search order LOAD_WITH_ALTERED_SEARCH_PATH uses.
  auto setDllDirectory =
      reinterpret_cast<SetDllDirectoryFunction>(reinterpret_cast<void*>(kernelFunction("SetDllDirectoryA")));
  if (setDllDirectory) setDllDirectory("");
}

void addExtractionDirectoryToDllSearch(const std::string& directory) {
  if (directory.empty()) return;
  if (g_restricted) {
    addDllSearchDirectory(directory);
    return;
  }
  auto setDllDirectory =
      reinterpret_cast<SetDllDirectoryFunction>(reinterpret_cast<void*>(kernelFunction("SetDllDirectoryA")));
  if (setDllDirectory) setDllDirectory(directory.c_str());
}

void* addDllSearchDirectory(const std::string& directory) {
  if (!g_restricted || directory.empty()) return nullptr;
  auto add = reinterpret_cast<AddDllDirectoryFunction>(reinterpret_cast<void*>(kernelFunction("AddDllDirectory")));
  if (!add) return nullptr;
  int length = MultiByteToWideChar(CP_ACP, 0, directory.c_str(), -1, nullptr, 0);
  if (length <= 0) return nullptr;
  std::vector<wchar_t> wide(static_cast<std::size_t>(length));
  MultiByteToWideChar(CP_ACP, 0, directory.c_str(), -1, wide.data(), length);
  // Only absolute paths are accepted; a missing directory is refused as well, which is harmless.
  return add(wide.data());
}

unsigned long fullPathLoadFlags() {
  return g_restricted ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32
                      : LOAD_WITH_ALTERED_SEARCH_PATH;
}

void removeDllSearchDirectory(void* cookie) {
  if (!cookie) return;
  auto remove =
      reinterpret_cast<RemoveDllDirectoryFunction>(reinterpret_cast<void*>(kernelFunction("RemoveDllDirectory")));
  if (remove) remove(cookie);
}

void* systemLibraryFunction(const char* library, const char* name) {
  HMODULE module = GetModuleHandleA(library);
  if (!module) module = LoadLibraryA(library);
  return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}
