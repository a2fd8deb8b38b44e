// Calls LoadDLL with errors shown, on standard error, one scenario per process:
//   load_dll_probe [--narrow ID=TEXT]... [--location PATH [--exe]]
// Prints "LoadDLL 1" or "LoadDLL 0" on standard output.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "errors.h"
#include "media/launcher_config.h"
#include "runtime/vm_library.h"

int main(int argc, char** argv) {
  useConsoleErrors();
  const char* location = nullptr;
  bool isExe = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--narrow") == 0 && i + 1 < argc) {
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
