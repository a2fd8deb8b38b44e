// The runtime stages of the launch sequence: loading an installed or carried Java runtime,
// the missing-runtime handling, unpacking, and the VM launch.
//
// This build has no runtime support yet: no runtime is ever found, so every start reaches the
// missing-runtime path. Each routine below is the single place the runtime work replaces.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Searches (location null) or loads the runtime at location and binds its VM library.
// No runtime support in this build: always false.
bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable);

// Without a runtime the user would locate or download one; without that support this ends
// the launcher as declining does: both start markers removed, exit code 1.
void handleMissingRuntime(HWND progressWindow);

// Untars and prepares the carried "jre.tar.gz". Without unpacking support the archive cannot
// be used, which ends the launcher as a damaged archive does.
void prepareCarriedRuntime(HWND progressWindow);
void loadCarriedRuntime();

// Unpacks one pack200 archive with the loaded runtime's unpack200.exe.
void runUnpack200(const std::string& packPath);

// Creates the VM and calls the Java main class; false when the VM could not be created.
bool launchJavaProgram(const std::vector<std::u16string>& args, bool destroyAfterMain);
