#include "runtime/vm_library.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "base/dll_search.h"
#include "base/errors.h"
#include "base/handles.h"
#include "base/log.h"
#include "base/paths.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "runtime/pe_machine.h"
#include "base/text_limits.h"
#include "vm/variable_expansion.h"

namespace {

// The build's bitness fills the messages' "{0}-bit"; the 64-bit twin has its own variants of the
// messages that name the bitness in their text.
#if PATHMERE_BITS == 64
constexpr const char* kBits = "64";
constexpr int32_t kEnvironmentVariableMessage = entry::kBadJavaHome64Text;
constexpr int32_t kDamagedRuntimeMessage = entry::kDamagedJvm64Text;
#else
constexpr const char* kBits = "32";
constexpr int32_t kEnvironmentVariableMessage = entry::kBadJavaHome32Text;
constexpr int32_t kDamagedRuntimeMessage = entry::kDamagedJvm32Text;
#endif

#ifdef _WIN64
constexpr uint16_t kOwnMachine = kMachineAmd64;
#else
constexpr uint16_t kOwnMachine = kMachineI386;
#endif

bool readExactly(HANDLE file, DWORD offset, uint8_t* bytes, DWORD count) {
  if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  DWORD read = 0;
  return ReadFile(file, bytes, count, &read, nullptr) && read == count;
}

// PATH of the process, or none when it is not set. Read whole: a cut value could not be put back.
std::optional<std::string> currentPath() {
  std::vector<char> value(16384);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableA("PATH", value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < value.size()) return std::string(value.data(), n);
    value.resize(n + 1);
  }
}

// Sets PATH in the process environment and in the C runtime's copy (none removes it).
void setPath(const std::optional<std::string>& value) {
  const char* shown = value ? value->c_str() : "";
  if (SetEnvironmentVariableA("PATH", value ? value->c_str() : nullptr)) {
    logInfo("Setting PATH %s", shown);
  } else {
    logInfo("Setting PATH %s failed with error %lu", shown, GetLastError());
  }
  std::string assignment = "PATH=" + (value ? *value : std::string());
  _putenv(assignment.c_str());
}

// The DLL search directory of the last bin directory whose library loaded; taken back when that
// library turns out to be no VM. Launch-sequence thread only.
void* g_keptSearchDirectory = nullptr;

// PATH extended by a directory for as long as the guard lives, unless kept. The directory joins
// the restricted DLL search as well, which does not read PATH.
class PathExtension {
 public:
  explicit PathExtension(const std::string& directory)
      : saved_(currentPath()), searchCookie_(addDllSearchDirectory(makeAbsolutePath(directory, true))) {
    setPath((saved_ ? *saved_ : std::string()) + ";" + directory);
  }
  ~PathExtension() {
    if (kept_) return;
    setPath(saved_);
    removeDllSearchDirectory(searchCookie_);
  }
  PathExtension(const PathExtension&) = delete;
  PathExtension& operator=(const PathExtension&) = delete;
  void keep() {
    kept_ = true;
    g_keptSearchDirectory = searchCookie_;
  }

 private:
  std::optional<std::string> saved_;
  void* searchCookie_;
  bool kept_ = false;
};

void showLoadFailure(RuntimeSourceKind kind, const std::string& description) {
  switch (kind) {
    case RuntimeSourceKind::SearchPath:
      showConfigError(entry::kNoJvmBitsText, kBits);
      break;
    case RuntimeSourceKind::EnvironmentVariable:
      showConfigError(kEnvironmentVariableMessage, description.c_str());
      break;
    case RuntimeSourceKind::Location:
      showConfigError(kDamagedRuntimeMessage, description.c_str());
      break;
    case RuntimeSourceKind::RegistryLookup:
      showConfigError(entry::kVmStartFailedText);
      break;
    case RuntimeSourceKind::None:
      break;
  }
}

}  // namespace

std::optional<uint16_t> readPeMachine(const std::string& path) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  uint8_t dosHeader[kDosHeaderSize];
  if (!readExactly(file.h, 0, dosHeader, sizeof dosHeader)) return std::nullopt;
  std::optional<uint32_t> offset = peHeaderOffset(dosHeader, sizeof dosHeader);
  uint8_t peHeader[kPeSignatureAndMachineSize];
  if (!offset || !readExactly(file.h, *offset, peHeader, sizeof peHeader)) return std::nullopt;
  return peMachineAt(peHeader, sizeof peHeader);
}

bool runtimeMatchesBuild(const std::string& exePath) {
  std::optional<std::string> foreign;
  uint16_t foreignMachine = 0;
  for (const std::string& library : vmLibraryCandidates(exePath, config::preferredVmType())) {
    std::optional<uint16_t> machine = readPeMachine(library);
    if (!machine) continue;
    if (*machine == kOwnMachine) return true;
    if (!foreign) {
      foreign = library;
      foreignMachine = *machine;
    }
  }
  if (!foreign) return true;
  logInfo("Refusing %s: its VM library %s is built for %s, this launcher for %s", exePath.c_str(), foreign->c_str(),
          machineName(foreignMachine).c_str(), machineName(kOwnMachine).c_str());
  return false;
}

bool hasVmLibraryFor(const std::string& exePath, std::optional<uint16_t> machine) {
  uint16_t wanted = machine ? *machine : kOwnMachine;
  for (const std::string& library : vmLibraryCandidates(exePath, config::preferredVmType())) {
    if (readPeMachine(library) == wanted) return true;
  }
  return false;
}

uint16_t launcherMachine() { return kOwnMachine; }

HMODULE tryJvmLibrary(const std::string& binDir, const std::string& vmType) {
  std::string path = binDir + "\\" + vmType + "\\jvm.dll";
  bool exists = pathExists(path.c_str());
  logInfo("Trying %s (exists %d)", path.c_str(), exists ? 1 : 0);
  std::optional<uint16_t> machine = exists ? readPeMachine(path) : std::nullopt;
  if (machine && *machine != kOwnMachine) {
    logInfo("Skipping %s: built for %s, this launcher for %s", path.c_str(), machineName(*machine).c_str(),
            machineName(kOwnMachine).c_str());
    return nullptr;
  }
  // By full path, searching its own directory for its imports.
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, fullPathLoadFlags());
  if (!module && exists) logInfo("Failed with error code %lu", GetLastError());
  return module;
}

HMODULE loadJvmFromBinDir(const std::string& exePath) {
  std::optional<std::string> binDir = binDirectoryOf(exePath);
  if (!binDir) return nullptr;
  PathExtension path(*binDir);
  for (const std::string& vmType : vmTypeOrder(config::preferredVmType())) {
    if (HMODULE module = tryJvmLibrary(*binDir, vmType)) {
      // The VM library's own dependencies are found through the bin directory from now on.
      path.keep();
      return module;
    }
  }
  return nullptr;
}

HMODULE loadJvmForJavaExe(const std::string& exePath) {
  if (HMODULE module = loadJvmFromBinDir(exePath)) return module;
  std::optional<std::string> embedded = embeddedRuntimeExecutable(exePath);
  return embedded ? loadJvmFromBinDir(*embedded) : nullptr;
}

FARPROC createJavaVmEntry(HMODULE module) { return module ? GetProcAddress(module, "JNI_CreateJavaVM") : nullptr; }

const char* launcherBits() { return kBits; }

bool loadRuntimeLibrary(const std::string& exePath, RuntimeSourceKind kind, const std::string& description,
                        bool showErrors, LaunchState& state) {
  logInfo("Trying to load JVM-DLL from %s", exePath.c_str());
  std::optional<std::string> pathBefore = currentPath();
  HMODULE module = loadJvmForJavaExe(exePath);
  state.runtimeHome = javaHomeForExecutable(exePath);
  fitTextBuffer(state.runtimeHome);
  if (!module) logError("Could not get DLL-Handle.");
  if (FARPROC entry = createJavaVmEntry(module)) {
    state.createJavaVm = entry;
    logInfo("Loading of JVM-DLL successful");
    return true;
  }
  logError("Could not load functions");
  if (module) {
    // A library without the entry point is no VM: neither it nor its directory on PATH stays.
    FreeLibrary(module);
    setPath(pathBefore);
    removeDllSearchDirectory(g_keptSearchDirectory);
    g_keptSearchDirectory = nullptr;
  }
  if (showErrors) showLoadFailure(kind, description);
  return false;
}
