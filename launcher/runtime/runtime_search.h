// The search for an installed Java runtime: location files, the configured search list, the
// registry, previous installations and the two fallback environment variables, in a fixed order.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/search_rules.h"

// The whole sequence; the first source that yields an acceptable runtime wins. exePath gets its
// java.exe (or javaw.exe); description the location, search-list argument or variable name
// (left alone for a registry find).
RuntimeSourceKind findJavaRuntime(std::string& exePath, std::string& description);

// A runtime home directory, resolved against the launcher's directory (and unpacked when packed).
// With relative, true as soon as the executable's path is derived: no existence or version test.
bool testLocation(std::string& exePath, const std::string& location, const std::string& min, const std::string& max,
                  bool relative);
// java.exe on the executable search path.
bool testSearchPath(std::string& exePath, const std::string& min, const std::string& max);
// The runtime home named by an environment variable.
bool testEnvironmentVariable(std::string& exePath, const std::string& name, const std::string& min,
                             const std::string& max);
// The JavaSoft keys and the located runtimes: the greater version wins, a tie goes to the located one.
bool testRegistry(std::string& exePath, const std::string& min, const std::string& max);
// Every folder on PATH in order: the first whose java.exe has a VM library for this processor
// beside it and is accepted (a java.exe copy without its runtime is passed over).
bool testEverySearchPathFolder(std::string& exePath, const std::string& min, const std::string& max);
// Every runtime that a vendor's installer registered: the highest acceptable version wins.
bool testRegisteredRuntimes(std::string& exePath, const std::string& min, const std::string& max);
// The home of a runtime registered in the given registry view whose VM library is built for
// machine; none when there is no such runtime.
std::optional<std::string> registeredRuntimeFor(REGSAM view, uint16_t machine);
// In the 32-bit build: a 64-bit runtime registered where only the 64-bit registry view shows it,
// which this launcher cannot load (the x64 installer can). None in the 64-bit build.
std::optional<std::string> otherProcessorRuntime();

// The "jre" directory of an installation listed for entry 160 under root.
bool findPreviousInstallation(HKEY root, std::string& exePath, const std::string& min, const std::string& max);

// The executable of a runtime home: a development kit's embedded runtime when present, else
// bin\java.exe (unchecked). With entry 131 only a kit counts: false without lib\tools.jar.
bool javaExeForHome(std::string& exePath, const std::string& home);

// The first line of the install directory's file suffix, without its line end; false when the
// file is missing or empty.
bool readLocationFile(std::string& line, const char* suffix);

// Records a java.exe the user picked by hand, under HKEY_LOCAL_MACHINE or else HKEY_CURRENT_USER.
void rememberLocatedRuntime(const std::string& javaExe);
