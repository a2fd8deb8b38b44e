// Rules of the runtime search that need no system: the search list, the runtime layout of a
// home directory, the registry names of located runtimes, and the paths cut from a Java
// executable's path. Every cut checks the text's length first and refuses what is too short.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/version_rules.h"

// Where the search found its runtime; chooses the message shown when loading it fails.
enum class RuntimeSourceKind { None = 0, SearchPath = 1, Location = 2, EnvironmentVariable = 3, RegistryLookup = 4 };

// One item of the search list (entry 128): its kind letter and the rest of the item.
struct SearchItem {
  char kind;
  std::string argument;
};

// Items of a ";"-separated search list in order; empty items are skipped.
std::vector<SearchItem> parseSearchList(std::string_view list);

// Absolute for the relative pass: at least 2 characters and a drive colon second, or a
// leading "\\".
bool isAbsoluteSearchArgument(std::string_view argument);

// Whether the relative pass tries the item: B always, A and R only with a non-absolute argument.
bool triedInRelativePass(const SearchItem& item);

// The executables of a home directory: a development kit's embedded runtime, a plain runtime.
std::string jdkJavaExecutable(const std::string& home);
std::string jreJavaExecutable(const std::string& home);
// The file that marks a home as a development kit.
std::string toolsJarPath(const std::string& home);
// The compiler that marks a home as a development kit of Java 9 and later, which have no tools.jar.
std::string javacPath(const std::string& home);

// The "release" files that may describe the runtime of a Java executable, nearest first: its
// home's, and for a development kit's embedded jre\bin\java.exe the kit's own.
std::vector<std::string> releaseFileCandidates(std::string_view exePath);

// A registry key that installers of some vendor write for each runtime they install: the key
// path with "*" for each level whose every subkey is read, and the value that holds the home.
struct RegisteredRuntimeKey {
  const char* pattern;
  const char* value;
  // A runtime environment rather than a development kit: not read when only kits count.
  bool runtimeEnvironment;
};
// Every key the "M" item reads, under HKEY_LOCAL_MACHINE and then HKEY_CURRENT_USER.
const std::vector<RegisteredRuntimeKey>& registeredRuntimeKeys();
// The levels of a key pattern, split at its backslashes.
std::vector<std::string> keyPatternLevels(std::string_view pattern);

// The folders of a PATH value in order: quotes removed (a quoted folder may hold ";"), empty
// items skipped, a trailing backslash dropped except after a drive.
std::vector<std::string> searchPathFolders(std::string_view path);

// "SOFTWARE\harwell\nimbo\locatedjvms\" and the executable's path with every backslash as a slash.
std::string locatedRuntimeKey(const std::string& exePath);
// The executable's path a located-runtime subkey name stands for (slashes back to backslashes).
std::string locatedRuntimeExecutable(std::string_view subkeyName);

// The JavaSoft key to read "JavaHome" from, given the development kit's and the runtime
// environment's "CurrentVersion" (each "" when absent or out of bounds): the kit only when its
// version compares greater.
std::string javaSoftCurrentKey(const std::string& jdkVersion, const std::string& jreVersion,
                               VersionScheme scheme = VersionScheme::Text);
inline constexpr const char* kJavaSoftJreKey = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
inline constexpr const char* kJavaSoftJdkKey = "SOFTWARE\\JavaSoft\\Java Development Kit";

// The executable's directory without its final backslash: the path minus "\javaw.exe" when it
// ends in "javaw.exe", else minus its last 9 characters ("\java.exe"). None when too short.
std::optional<std::string> binDirectoryOf(std::string_view exePath);

// The embedded runtime's executable of a development kit's bin\java.exe: the file name
// ("javaw.exe", else the last 8 characters) replaced by "..\jre\bin\java.exe". None when too short.
std::optional<std::string> embeddedRuntimeExecutable(std::string_view exePath);

// The path with its last four characters (".exe") replaced by "w.exe". None when shorter.
std::optional<std::string> windowedExecutable(std::string_view exePath);

// The VM-type subdirectories of a bin directory whose "jvm.dll" is tried, in order: the
// preferred type first when set; "j9vm" (IBM's OpenJ9 of Java 8) after the older types.
std::vector<std::string> vmTypeOrder(const std::string& preferredVmType);

// Every VM library the loader may try for a Java executable, in its order: the bin directory's
// VM types, then those of a development kit's embedded runtime.
std::vector<std::string> vmLibraryCandidates(std::string_view exePath, const std::string& preferredVmType);

// The non-empty elements of a list separated by sep, in order.
std::vector<std::string> splitNonEmpty(std::string_view list, char sep);
