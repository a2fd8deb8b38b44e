// Finds or takes a Java runtime, loads its VM library into the process and binds JNI_CreateJavaVM.
#pragma once
#include <windows.h>

#include <string>

// Searches (location null) or takes the runtime at location (a home directory, or a java.exe
// when locationIsJavaExecutable) and loads its VM library. With showErrors, a failure shows the
// configured message that fits the runtime's source; it never ends the process.
bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable);

// The VM library of the executable's bin directory, else of a development kit's embedded runtime.
HMODULE loadJvmForJavaExe(const std::string& exePath);
// The first VM-type directory of the executable's bin directory whose jvm.dll loads. PATH is
// extended by the bin directory, and put back exactly when nothing loads.
HMODULE loadJvmFromBinDir(const std::string& exePath);
// Loads binDir\vmType\jvm.dll.
HMODULE tryJvmLibrary(const std::string& binDir, const std::string& vmType);
// Stores the module's JNI_CreateJavaVM in g_createJavaVm.
bool bindCreateJavaVM(HMODULE module);
