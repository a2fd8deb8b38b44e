// Finds or takes a Java runtime, loads its VM library into the process and binds JNI_CreateJavaVM.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/launch_state.h"
#include "runtime/search_rules.h"

// Loads the VM library of the chosen runtime's Java executable and binds JNI_CreateJavaVM; the
// state takes the runtime's home (even when nothing loads) and the entry point. With showErrors,
// a failure shows the configured message that fits the runtime's source (kind and description);
// it never ends the process.
bool loadRuntimeLibrary(const std::string& exePath, RuntimeSourceKind kind, const std::string& description,
                        bool showErrors, LaunchState& state);
// The build's bitness as the messages show it: "32" or "64".
const char* launcherBits();

// The VM library of the executable's bin directory, else of a development kit's embedded runtime.
HMODULE loadJvmForJavaExe(const std::string& exePath);
// The first VM-type directory of the executable's bin directory whose jvm.dll loads. PATH is
// extended by the bin directory, and put back exactly when nothing loads.
HMODULE loadJvmFromBinDir(const std::string& exePath);
// The machine type in an image file's header; none when the file cannot be read or is no image.
std::optional<uint16_t> readPeMachine(const std::string& path);
// False (and logged) when the Java executable's runtime has VM libraries, all of them built for
// another processor than this launcher: such a runtime could never be loaded into this process.
bool runtimeMatchesBuild(const std::string& exePath);

// Whether the Java executable's runtime has a VM library built for the given processor (by
// default this launcher's): what a java.exe copy without its runtime beside it lacks.
bool hasVmLibraryFor(const std::string& exePath, std::optional<uint16_t> machine = std::nullopt);
// The processor this launcher is built for.
uint16_t launcherMachine();

// Loads binDir\vmType\jvm.dll by full path; a library of another processor is skipped unloaded.
HMODULE tryJvmLibrary(const std::string& binDir, const std::string& vmType);
// The module's JNI_CreateJavaVM; null for no module or one without it.
FARPROC createJavaVmEntry(HMODULE module);
