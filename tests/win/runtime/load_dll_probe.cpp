// Calls LoadDLL with errors shown, on standard error, one scenario per process:
//   load_dll_probe [--legacy] [--restrict] [--extraction DIR] [--bare NAME]... [--narrow ID=TEXT]... [--location PATH [--exe]]
//                  [--module NAME]
// Prints "LoadDLL 1" or "LoadDLL 0" on standard output, after "bare NAME 1" or "bare NAME 0" for
// each library loaded by bare name, and then "module NAME PATH" for a library loaded by then. --restrict first restricts the DLL search as the launcher's
// start does; --legacy before it plays a system without SetDefaultDllDirectories and
// AddDllDirectory. --extraction adds DIR to the search as the launcher adds its extraction folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/dll_search.h"
#include "base/errors.h"
#include "config/launcher_config.h"
#include "import_patch.h"
#include "runtime/runtime_choice.h"
#include "runtime/vm_library.h"

namespace {

ImportPatch* g_getProcAddress = nullptr;

// GetProcAddress of a kernel32 without the 2011 loader update.
FARPROC WINAPI legacyGetProcAddress(HMODULE module, LPCSTR name) {
  if (reinterpret_cast<ULONG_PTR>(name) > 0xffff &&
      (std::strcmp(name, "SetDefaultDllDirectories") == 0 || std::strcmp(name, "AddDllDirectory") == 0 ||
       std::strcmp(name, "RemoveDllDirectory") == 0)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  using Original = FARPROC(WINAPI*)(HMODULE, LPCSTR);
  return reinterpret_cast<Original>(g_getProcAddress->original())(module, name);
}

}  // namespace

int main(int argc, char** argv) {
  useConsoleErrors();
  const char* location = nullptr;
  const char* module = nullptr;
  bool isExe = false;
  int first = 1;
  if (argc > first && std::strcmp(argv[first], "--legacy") == 0) {
    g_getProcAddress = new ImportPatch(GetModuleHandleA(nullptr), "kernel32.dll", "GetProcAddress",
                                       reinterpret_cast<void*>(legacyGetProcAddress));
    if (!g_getProcAddress->ok()) std::fputs("GetProcAddress not patched\n", stderr);
    ++first;
  }
  if (argc > first && std::strcmp(argv[first], "--restrict") == 0) restrictDllSearch();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bare") == 0 && i + 1 < argc) {
      const char* name = argv[++i];
      std::printf("bare %s %d\n", name, LoadLibraryA(name) != nullptr ? 1 : 0);
    } else if (std::strcmp(argv[i], "--narrow") == 0 && i + 1 < argc) {
      std::string entry = argv[++i];
      std::size_t eq = entry.find('=');
      g_config.narrow[std::atoi(entry.substr(0, eq).c_str())] = entry.substr(eq + 1);
    } else if (std::strcmp(argv[i], "--location") == 0 && i + 1 < argc) {
      location = argv[++i];
    } else if (std::strcmp(argv[i], "--extraction") == 0 && i + 1 < argc) {
      addExtractionDirectoryToDllSearch(argv[++i]);
    } else if (std::strcmp(argv[i], "--module") == 0 && i + 1 < argc) {
      module = argv[++i];
    } else if (std::strcmp(argv[i], "--exe") == 0) {
      isExe = true;
    }
  }
  LaunchState launch;
  bool loaded = LoadDLL(true, location, isExe, launch);
  std::printf("LoadDLL %d\n", loaded ? 1 : 0);
  if (module) {
    char path[MAX_PATH] = "";
    HMODULE handle = GetModuleHandleA(module);
    if (handle) GetModuleFileNameA(handle, path, sizeof path);
    std::printf("module %s %s\n", module, path);
  }
  return 0;
}
