// Calls LoadDLL with errors shown, on standard error, one scenario per process:
//   load_dll_probe [--restrict] [--bare NAME]... [--narrow ID=TEXT]... [--location PATH [--exe]]
// Prints "LoadDLL 1" or "LoadDLL 0" on standard output, after "bare NAME 1" or "bare NAME 0" for
// each library loaded by bare name. --restrict first restricts the DLL search as the launcher's
// start does.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/launcher_config.h"
#include "dll_search.h"
#include "errors.h"
#include "runtime/runtime_choice.h"
#include "runtime/vm_library.h"

int main(int argc, char** argv) {
  useConsoleErrors();
  const char* location = nullptr;
  bool isExe = false;
  if (argc > 1 && std::strcmp(argv[1], "--restrict") == 0) restrictDllSearch();
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
    } else if (std::strcmp(argv[i], "--exe") == 0) {
      isExe = true;
    }
  }
  bool loaded = LoadDLL(true, location, isExe);
  std::printf("LoadDLL %d\n", loaded ? 1 : 0);
  return 0;
}
