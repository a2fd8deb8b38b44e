#include "runtime/vm_library.h"

#include <windows.h>

#include <string>

#include "log.h"
#include "vm/java_vm_launcher.h"
#include "vm/variable_expansion.h"

// Interim loader until the runtime search exists: the runtime home is the location (a home
// directory, or the directory above a java executable's bin) or NIMBO_JAVA_HOME; its client or
// server jvm.dll is loaded and bound.
bool LoadDLL(bool, const char* location, bool locationIsJavaExecutable) {
  std::string home;
  if (location != nullptr) {
    home = location;
    if (locationIsJavaExecutable) {
      home = home.substr(0, home.find_last_of('\\'));
      home = home.substr(0, home.find_last_of('\\'));
    }
  } else {
    char buffer[8192] = "";
    DWORD n = GetEnvironmentVariableA("NIMBO_JAVA_HOME", buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return false;
    home = buffer;
  }
  recordJavaHome(home + "\\bin\\java.exe");
  for (const char* type : {"client", "server"}) {
    std::string library = home + "\\bin\\" + type + "\\jvm.dll";
    HMODULE module = LoadLibraryA(library.c_str());
    if (module == nullptr) continue;
    g_createJavaVm = reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void*>(GetProcAddress(module, "JNI_CreateJavaVM")));
    if (g_createJavaVm != nullptr) {
      logInfo("Loading of JVM-DLL successful");
      return true;
    }
  }
  return false;
}
