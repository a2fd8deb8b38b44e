// One real launch per process: gives the platform the JNI_CreateJavaVM of the host JDK's
// libjvm.so, as LoadDLL binds jvm.dll's, and runs launchJavaProgram for a scenario file of
// "key=value" lines (UTF-8): config.<id>, exe, tempDir, kind (productKind-independent platform
// state: languageRestart, manual), env.<NAME>, and arg (repeated, in order).
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "config/launcher_config.h"
#include "host_platform.h"
#include "vm/java_vm_launcher.h"
#include "vm/vm_platform.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: real_jvm_launch SCENARIO\n");
    return 2;
  }
  std::ifstream scenario(argv[1]);
  std::vector<std::u16string> args;
  std::string line;
  while (std::getline(scenario, line)) {
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    if (key.rfind("config.", 0) == 0) {
      g_config.narrow[std::atoi(key.c_str() + 7)] = value;
    } else if (key.rfind("env.", 0) == 0) {
      setenv(key.c_str() + 4, value.c_str(), 1);
    } else if (key == "exe") {
      g_hostPlatform.executablePath = value;
    } else if (key == "tempDir") {
      g_hostPlatform.tempDir = value;
    } else if (key == "instanceName") {
      g_hostPlatform.singleInstanceName = value;
    } else if (key == "arg") {
      args.push_back(vmAnsiToUtf16(value));
    }
  }
  void* library = dlopen(REAL_JVM_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) {
    std::fprintf(stderr, "dlopen failed: %s\n", dlerror());
    return 2;
  }
  g_hostPlatform.createJavaVm = reinterpret_cast<CreateJavaVmFunction>(dlsym(library, "JNI_CreateJavaVM"));
  if (g_hostPlatform.createJavaVm == nullptr) return 2;
  g_hostPlatform.logToStderr = true;
  bool launched = launchJavaProgram(args, true);
  std::printf("launch result: %d\n", launched ? 1 : 0);
  return launched ? 0 : 3;
}
