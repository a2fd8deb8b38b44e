#include "runtime/runtime_search.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "base/handles.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text_limits.h"
#include "config/launcher_config.h"
#include "runtime/carried_runtime.h"
#include "runtime/java_probe.h"
#include "runtime/pe_machine.h"
#include "runtime/registry_read.h"
#include "runtime/version_rules.h"
#include "runtime/vm_library.h"
#include "vm/variable_expansion.h"

namespace {

constexpr const char* kLocatedRuntimesKey = "SOFTWARE\\harwell\\nimbo\\locatedjvms\\";
constexpr const char* kInstallationsKey = "SOFTWARE\\harwell\\tessar\\installations";

// An accepted registry candidate and the version it was accepted with.
struct Candidate {
  std::string exePath;
  std::string version;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool requireJdk() { return config::requireJdk() != 0; }

// Subkeys read per level of a registered-runtime key, and homes tested in all: a machine has a
// handful; a registry filled by something else must not keep the search busy.
constexpr std::size_t kRegisteredSubkeyLimit = 64;
constexpr std::size_t kRegisteredHomeLimit = 128;

// A runtime home written by an installer, and the key it was read from (for the log).
struct RegisteredHome {
  std::string home;
  std::string key;
};

std::optional<std::string> registryString(HKEY root, const std::string& key, const char* value, DWORD size) {
  std::vector<char> buffer(size);
  if (!readRegistryString(root, key.c_str(), value, buffer.data(), size)) return std::nullopt;
  return std::string(buffer.data());
}

std::vector<std::string> subkeyNames(HKEY key, std::size_t limit = SIZE_MAX) {
  std::vector<std::string> names;
  std::vector<char> name(kTextBufferSize);
  for (DWORD index = 0; names.size() < limit; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    // Any answer but success ends the walk: a key that keeps failing must not loop.
    if (RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), length);
  }
  return names;
}

std::optional<Candidate> checkedHome(const std::string& home, const std::string& min, const std::string& max) {
  Candidate candidate;
  if (!javaExeForHome(candidate.exePath, home)) return std::nullopt;
  if (!checkJavaExe(candidate.exePath, candidate.version, min, max, false)) return std::nullopt;
  return candidate;
}

// "CurrentVersion" of a JavaSoft key when it lies within the bounds, else "".
std::string currentVersionInRange(const char* key, const std::string& min, const std::string& max) {
  std::optional<std::string> version = registryString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", 100);
  return version && versionInRange(*version, min, max, configuredVersionScheme()) ? *version : std::string();
}

bool versionGreater(const std::string& a, const std::string& b) {
  return compareVersions(a, b, configuredVersionScheme()) > 0;
}

std::optional<Candidate> findJavaSoftCurrentVersion(const std::string& min, const std::string& max) {
  std::string jdkVersion = currentVersionInRange(kJavaSoftJdkKey, min, max);
  std::string jreVersion = requireJdk() ? std::string() : currentVersionInRange(kJavaSoftJreKey, min, max);
  // Without a version the key would be the runtime environment's own, which requireJdk must not read.
  if (jdkVersion.empty() && jreVersion.empty()) return std::nullopt;
  std::optional<std::string> home =
      registryString(HKEY_LOCAL_MACHINE, javaSoftCurrentKey(jdkVersion, jreVersion, configuredVersionScheme()),
                     "JavaHome", kTextBufferSize);
  if (!home) return std::nullopt;
  return checkedHome(*home, min, max);
}

std::optional<Candidate> findJavaSoftVersionKey(const char* keyName, const std::string& min, const std::string& max) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key.h) != ERROR_SUCCESS) {
    key.h = nullptr;
    return std::nullopt;
  }
  for (const std::string& name : javaSoftTryOrder(subkeyNames(key.h), min, max, configuredVersionScheme())) {
    std::optional<std::string> home =
        registryString(HKEY_LOCAL_MACHINE, std::string(keyName) + "\\" + name, "JavaHome", kTextBufferSize);
    if (!home) continue;
    if (std::optional<Candidate> found = checkedHome(*home, min, max)) return found;
  }
  return std::nullopt;
}

std::optional<Candidate> findJavaSoftRuntime(const std::string& min, const std::string& max) {
  if (std::optional<Candidate> found = findJavaSoftCurrentVersion(min, max)) return found;
  if (!requireJdk()) {
    if (std::optional<Candidate> found = findJavaSoftVersionKey(kJavaSoftJreKey, min, max)) return found;
  }
  return findJavaSoftVersionKey(kJavaSoftJdkKey, min, max);
}

std::optional<Candidate> findLocatedRuntime(HKEY root, const std::string& min, const std::string& max) {
  RegKey key;
  if (RegOpenKeyExA(root, kLocatedRuntimesKey, 0, KEY_READ, &key.h) != ERROR_SUCCESS) {
    key.h = nullptr;
    return std::nullopt;
  }
  std::optional<Candidate> best;
  for (const std::string& name : subkeyNames(key.h)) {
    Candidate candidate{locatedRuntimeExecutable(name), std::string()};
    if (!checkJavaExe(candidate.exePath, candidate.version, min, max, true)) continue;
    // Byte-wise an empty version never counts; numbered, the first accepted one does.
    bool better = best ? versionGreater(candidate.version, best->version)
                       : configuredVersionScheme() == VersionScheme::Numeric || !candidate.version.empty();
    if (better) best = candidate;
  }
  return best;
}

std::optional<Candidate> findBestLocatedRuntime(const std::string& min, const std::string& max) {
  std::optional<Candidate> user = findLocatedRuntime(HKEY_CURRENT_USER, min, max);
  std::optional<Candidate> machine = findLocatedRuntime(HKEY_LOCAL_MACHINE, min, max);
  if (user && machine) return versionGreater(user->version, machine->version) ? user : machine;
  return user ? user : machine;
}

// Reads the homes below root\prefix for the pattern's levels from level on, each "*" standing
// for every subkey; the last level's key holds the value.
void collectRegisteredHomes(HKEY root, REGSAM view, const std::string& prefix, const std::vector<std::string>& levels,
                            std::size_t level, const char* value, std::vector<RegisteredHome>& homes) {
  if (homes.size() >= kRegisteredHomeLimit) return;
  std::string key = prefix;
  for (; level < levels.size() && levels[level] != "*"; ++level) key += (key.empty() ? "" : "\\") + levels[level];
  RegKey opened;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &opened.h) != ERROR_SUCCESS) {
    opened.h = nullptr;
    return;
  }
  if (level == levels.size()) {
    std::vector<char> home(kTextBufferSize);
    if (queryRegistryString(opened.h, value, home.data(), static_cast<DWORD>(home.size())) && home[0] != '\0') {
      homes.push_back(RegisteredHome{home.data(), key});
    }
    return;
  }
  for (const std::string& name : subkeyNames(opened.h, kRegisteredSubkeyLimit)) {
    collectRegisteredHomes(root, view, key + "\\" + name, levels, level + 1, value, homes);
  }
}

// Every home the registered-runtime keys name under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER in
// the given registry view, each once (a JavaSoft key names the same home as "1.8" and "1.8.0_401").
std::vector<RegisteredHome> registeredHomes(REGSAM view, bool kitsOnly) {
  std::vector<RegisteredHome> found;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const RegisteredRuntimeKey& entry : registeredRuntimeKeys()) {
      if (kitsOnly && entry.runtimeEnvironment) continue;
      collectRegisteredHomes(root, view, std::string(), keyPatternLevels(entry.pattern), 0, entry.value, found);
    }
  }
  std::vector<RegisteredHome> unique;
  std::vector<std::string> seen;
  for (RegisteredHome& registered : found) {
    std::string home = makeAbsolutePath(registered.home, true);
    while (home.size() > 3 && home.back() == '\\') home.pop_back();
    std::string folded = makeAbsolutePath(home, false);
    if (std::find(seen.begin(), seen.end(), folded) != seen.end()) continue;
    seen.push_back(folded);
    unique.push_back(RegisteredHome{home, registered.key});
  }
  return unique;
}

// The preferred or the installer location file.
bool testLocationFile(std::string& exePath, std::string& description, const char* suffix, const char* hasLine,
                      const char* usingLine, const std::string& min, const std::string& max) {
  std::string line;
  if (!readLocationFile(line, suffix)) return false;
  logInfo(hasLine, line.c_str());
  if (!testLocation(exePath, line, min, max, false)) return false;
  logInfo("%s", usingLine);
  description = line;
  return true;
}

}  // namespace

bool javaExeForHome(std::string& exePath, const std::string& home) {
  if (requireJdk()) {
    exePath = jdkJavaExecutable(home);
    if (pathExists(toolsJarPath(home).c_str())) return true;
    // A kit of Java 9 and later has no tools.jar and no embedded runtime, but its compiler.
    if (configuredVersionScheme() != VersionScheme::Numeric || !pathExists(javacPath(home).c_str())) return false;
    exePath = jreJavaExecutable(home);
    return true;
  }
  std::string embedded = jdkJavaExecutable(home);
  exePath = pathExists(embedded.c_str()) ? embedded : jreJavaExecutable(home);
  return true;
}

bool testLocation(std::string& exePath, const std::string& location, const std::string& min, const std::string& max,
                  bool relative) {
  std::string home = makeAbsolutePath(location, false);
  // "x\" would give "x\\bin\java.exe"; a drive root keeps its backslash.
  while (home.size() > 3 && home.back() == '\\') home.pop_back();
  // A runtime whose preparation failed lacks archives its VM needs.
  if (!prepareRuntime(home)) return false;
  bool found = javaExeForHome(exePath, home);
  if (relative) return true;
  return found && testJavaExe(exePath, min, max, true, true);
}

bool testSearchPath(std::string& exePath, const std::string& min, const std::string& max) {
  std::vector<char> found(kTextBufferSize);
  DWORD n = SearchPathA(nullptr, "java.exe", nullptr, static_cast<DWORD>(found.size()), found.data(), nullptr);
  if (n == 0 || n >= found.size()) return false;
  exePath.assign(found.data(), n);
  return testJavaExe(exePath, min, max, false, true);
}

bool testEverySearchPathFolder(std::string& exePath, const std::string& min, const std::string& max) {
  std::vector<char> value(kTextBufferSize * 4);
  DWORD n = GetEnvironmentVariableA("PATH", value.data(), static_cast<DWORD>(value.size()));
  if (n == 0 || n >= value.size()) return false;
  for (const std::string& folder : searchPathFolders(std::string_view(value.data(), n))) {
    // Only full paths: a relative folder would be read against the extraction folder.
    if (!isAbsoluteSearchArgument(folder)) continue;
    std::string candidate = folder + "\\java.exe";
    if (!pathExists(candidate.c_str())) continue;
    // Oracle's javapath folder holds java.exe copies without a runtime around them.
    if (!hasVmLibraryFor(candidate)) {
      logInfo("Passing over %s: no VM library for this processor beside it", candidate.c_str());
      continue;
    }
    exePath = candidate;
    if (testJavaExe(exePath, min, max, false, true)) return true;
  }
  return false;
}

bool testRegisteredRuntimes(std::string& exePath, const std::string& min, const std::string& max) {
  std::optional<Candidate> best;
  for (const RegisteredHome& registered : registeredHomes(0, requireJdk())) {
    logInfo("Registered runtime %s (%s)", registered.home.c_str(), registered.key.c_str());
    Candidate candidate;
    if (!javaExeForHome(candidate.exePath, registered.home)) {
      logInfo("Refusing %s: not a development kit", registered.home.c_str());
      continue;
    }
    if (!checkJavaExe(candidate.exePath, candidate.version, min, max, false)) {
      logInfo("Refusing %s: %s", registered.home.c_str(),
              refusalReason(candidate.version, min, max, false).c_str());
      continue;
    }
    if (!best || versionGreater(candidate.version, best->version)) best = candidate;
  }
  if (!best) return false;
  logInfo("Using registered runtime %s (version %s)", best->exePath.c_str(), best->version.c_str());
  exePath = best->exePath;
  return true;
}

std::optional<std::string> otherProcessorRuntime() {
#ifdef _WIN64
  return std::nullopt;
#else
  return registeredRuntimeFor(KEY_WOW64_64KEY, kMachineAmd64);
#endif
}

std::optional<std::string> registeredRuntimeFor(REGSAM view, uint16_t machine) {
  for (const RegisteredHome& registered : registeredHomes(view, false)) {
    for (const std::string& exe : {jdkJavaExecutable(registered.home), jreJavaExecutable(registered.home)}) {
      if (hasVmLibraryFor(exe, machine)) return registered.home;
    }
  }
  return std::nullopt;
}

bool testEnvironmentVariable(std::string& exePath, const std::string& name, const std::string& min,
                             const std::string& max) {
  std::vector<char> value(kTextBufferSize);
  DWORD n = GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
  if (n == 0 || n >= value.size()) return false;
  std::string home(value.data(), n);
  std::replace(home.begin(), home.end(), '/', '\\');
  if (!javaExeForHome(exePath, home)) return false;
  return testJavaExe(exePath, min, max, false, true);
}

bool testRegistry(std::string& exePath, const std::string& min, const std::string& max) {
  std::optional<Candidate> javaSoft = findJavaSoftRuntime(min, max);
  std::optional<Candidate> located = findBestLocatedRuntime(min, max);
  if (javaSoft) logInfo("found sun %s %s", javaSoft->exePath.c_str(), javaSoft->version.c_str());
  if (located) logInfo("found located %s %s", located->exePath.c_str(), located->version.c_str());
  std::optional<Candidate> chosen = located;
  if (javaSoft && (!located || versionGreater(javaSoft->version, located->version))) chosen = javaSoft;
  if (!chosen) return false;
  exePath = chosen->exePath;
  return true;
}

bool findPreviousInstallation(HKEY root, std::string& exePath, const std::string& min, const std::string& max) {
  std::string id = config::applicationId();
  if (id.empty()) return false;
  std::optional<std::string> directories = registryString(root, kInstallationsKey, id.c_str(), kTextBufferSize);
  if (!directories || directories->empty()) return false;
  logInfo("found installations: %s", directories->c_str());
  for (const std::string& directory : splitNonEmpty(*directories, ';')) {
    if (javaExeForHome(exePath, directory + "\\jre") && testJavaExe(exePath, min, max, false, true)) return true;
  }
  return false;
}

bool readLocationFile(std::string& line, const char* suffix) {
  std::string path = makeAbsolutePath(config::installDirectory(), true) + suffix;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
  if (!file) return false;
  std::vector<char> buffer(kTextBufferSize);
  if (!std::fgets(buffer.data(), static_cast<int>(buffer.size()), file.get())) return false;
  line = buffer.data();
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

void rememberLocatedRuntime(const std::string& javaExe) {
  std::string key = locatedRuntimeKey(javaExe);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    RegKey created;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created.h,
                        nullptr) == ERROR_SUCCESS) {
      return;
    }
    created.h = nullptr;
  }
}

RuntimeSourceKind findJavaRuntime(std::string& exePath, std::string& description) {
  logInfo("Searching for a JVM");
  std::string list = config::jreSearchSequence();
  std::string min = config::minJavaVersion();
  std::string max = config::maxJavaVersion();

  if (testLocationFile(exePath, description, "\\.tessar\\pref_jre.cfg", "Has preferred location %s",
                       "Using preferred location", min, max)) {
    return RuntimeSourceKind::Location;
  }

  std::vector<SearchItem> items = parseSearchList(list);
  for (const SearchItem& item : items) {
    std::string argument = item.argument;
    expandVariables(argument);
    logInfo("Testing location %s (type %c)", argument.c_str(), item.kind);
    switch (item.kind) {
      case 'A':
      case 'B':
      case 'R':
        if (testLocation(exePath, argument, min, max, false)) {
          description = argument;
          return RuntimeSourceKind::Location;
        }
        break;
      case 'S':
        if (testSearchPath(exePath, min, max)) {
          description = argument;
          return RuntimeSourceKind::SearchPath;
        }
        break;
      case 'E':
        if (testEnvironmentVariable(exePath, argument, min, max)) {
          description = argument;
          return RuntimeSourceKind::EnvironmentVariable;
        }
        break;
      case 'Y':
        if (testRegistry(exePath, min, max)) return RuntimeSourceKind::RegistryLookup;
        break;
      case 'M':
        if (testRegisteredRuntimes(exePath, min, max)) return RuntimeSourceKind::RegistryLookup;
        break;
      case 'P':
        if (testEverySearchPathFolder(exePath, min, max)) {
          description = argument;
          return RuntimeSourceKind::SearchPath;
        }
        break;
      default:
        break;
    }
  }

  if (testLocationFile(exePath, description, "\\.tessar\\inst_jre.cfg", "Has installer location %s",
                       "Using installer location", min, max)) {
    return RuntimeSourceKind::Location;
  }

  for (const SearchItem& item : items) {
    if (!triedInRelativePass(item)) continue;
    logInfo("Testing relative location %s", item.argument.c_str());
    // False only when the runtime there could not be prepared; exePath then still names what an
    // earlier item left in it, which must not be taken under this item's name.
    bool prepared = testLocation(exePath, item.argument, min, max, true);
    if (prepared && pathExists(exePath.c_str()) && runtimeMatchesBuild(exePath)) {
      logInfo("%s exists", exePath.c_str());
      description = item.argument;
      return RuntimeSourceKind::Location;
    }
  }

  if (findPreviousInstallation(HKEY_CURRENT_USER, exePath, min, max)) {
    logInfo("found JRE from previous installation (user) %s", exePath.c_str());
    return RuntimeSourceKind::RegistryLookup;
  }
  if (findPreviousInstallation(HKEY_LOCAL_MACHINE, exePath, min, max)) {
    logInfo("found JRE from previous installation (machine) %s", exePath.c_str());
    return RuntimeSourceKind::RegistryLookup;
  }
  logInfo("Search sequence finished");

  for (const char* variable : {"NIMBO_JAVA_HOME", "TESSAR_JAVA_HOME"}) {
    if (testEnvironmentVariable(exePath, variable, min, max)) {
      description = variable;
      return RuntimeSourceKind::EnvironmentVariable;
    }
  }
  return RuntimeSourceKind::None;
}
