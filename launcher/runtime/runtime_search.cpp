#include "runtime/runtime_search.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "config/launcher_config.h"
#include "handles.h"
#include "log.h"
#include "media/paths.h"
#include "runtime/carried_runtime.h"
#include "runtime/java_probe.h"
#include "runtime/registry_read.h"
#include "runtime/version_rules.h"
#include "runtime/vm_library.h"
#include "text_limits.h"
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

bool requireJdk() { return getConfigInt(131) != 0; }

std::optional<std::string> registryString(HKEY root, const std::string& key, const char* value, DWORD size) {
  std::vector<char> buffer(size);
  if (!readRegistryString(root, key.c_str(), value, buffer.data(), size)) return std::nullopt;
  return std::string(buffer.data());
}

std::vector<std::string> subkeyNames(HKEY key) {
  std::vector<std::string> names;
  std::vector<char> name(kTextBufferSize);
  for (DWORD index = 0;; ++index) {
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
  return version && versionInRange(*version, min, max) ? *version : std::string();
}

std::optional<Candidate> findJavaSoftCurrentVersion(const std::string& min, const std::string& max) {
  std::string jdkVersion = currentVersionInRange(kJavaSoftJdkKey, min, max);
  std::string jreVersion = requireJdk() ? std::string() : currentVersionInRange(kJavaSoftJreKey, min, max);
  // Without a version the key would be the runtime environment's own, which requireJdk must not read.
  if (jdkVersion.empty() && jreVersion.empty()) return std::nullopt;
  std::optional<std::string> home =
      registryString(HKEY_LOCAL_MACHINE, javaSoftCurrentKey(jdkVersion, jreVersion), "JavaHome", kTextBufferSize);
  if (!home) return std::nullopt;
  return checkedHome(*home, min, max);
}

std::optional<Candidate> findJavaSoftVersionKey(const char* keyName, const std::string& min, const std::string& max) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key.h) != ERROR_SUCCESS) {
    key.h = nullptr;
    return std::nullopt;
  }
  for (const std::string& name : javaSoftTryOrder(subkeyNames(key.h), min, max)) {
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
    if (candidate.version > (best ? best->version : std::string())) best = candidate;
  }
  return best;
}

std::optional<Candidate> findBestLocatedRuntime(const std::string& min, const std::string& max) {
  std::optional<Candidate> user = findLocatedRuntime(HKEY_CURRENT_USER, min, max);
  std::optional<Candidate> machine = findLocatedRuntime(HKEY_LOCAL_MACHINE, min, max);
  if (user && machine) return user->version > machine->version ? user : machine;
  return user ? user : machine;
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
    return pathExists(toolsJarPath(home).c_str());
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
  if (javaSoft && (!located || javaSoft->version > located->version)) chosen = javaSoft;
  if (!chosen) return false;
  exePath = chosen->exePath;
  return true;
}

bool findPreviousInstallation(HKEY root, std::string& exePath, const std::string& min, const std::string& max) {
  std::string id = getConfigString(160);
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
  std::string path = makeAbsolutePath(getConfigString(10003), true) + suffix;
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
  std::string list = getConfigString(128);
  std::string min = getConfigString(126);
  std::string max = getConfigString(127);

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
