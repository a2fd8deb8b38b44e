#include "vm/java_vm_launcher.h"

CreateJavaVmFunction g_createJavaVm = nullptr;

void extendPathForNativeDlls() {}

bool launchJavaProgram(const std::vector<std::u16string>&, bool) { return false; }
