#include "runtime/runtime_choice.h"

#include <optional>
#include <string>

#include "base/errors.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/win_text.h"
#include "config/configured_messages.h"
#include "config/launcher_config.h"
#include "runtime/java_probe.h"
#include "runtime/missing_runtime_text.h"
#include "runtime/runtime_search.h"
#include "runtime/search_rules.h"
#include "runtime/vm_library.h"

namespace {

std::u16string wideText(const std::string& text) { return std::u16string(asUtf16(ansiToWide(text))); }

std::u16string locatedRuntimeRefusal(const char* file, const std::string& version, bool versionAccepted) {
  return composeLocatedRuntimeRefusal(
      wideText(file), wideText(version), versionAccepted, wideText(launcherBits()),
      config::minVersionLabel(), wideText(config::minJavaVersion()),
      config::maxVersionLabel(), wideText(config::maxJavaVersion()));
}

// A runtime found for the launch: its java.exe (or windowed twin) and where it came from.
struct FoundRuntime {
  RuntimeSourceKind kind = RuntimeSourceKind::None;
  std::string exePath;
  std::string description;
};

// The runtime at a location the user or the payload gave: a home, or a java.exe.
FoundRuntime givenRuntime(bool showErrors, const char* location, bool locationIsJavaExecutable) {
  logInfo("Got JRE location %s (java exe: %d)", location, locationIsJavaExecutable ? 1 : 0);
  std::string min = config::minJavaVersion();
  std::string max = config::maxJavaVersion();
  logInfo("MinVersion: %s, MaxVersion: %s", min.c_str(), max.c_str());
  std::string exePath = location;
  std::string version;
  bool usable = locationIsJavaExecutable ? testJavaExe(exePath, min, max, true, false, &version)
                                         : testLocation(exePath, location, min, max, true);
  if (usable) return {RuntimeSourceKind::Location, exePath, location};
  logError("Provided JVM unusable");
  // The user just chose this file: "no JVM found" would not tell them what to choose instead.
  if (showErrors && locationIsJavaExecutable) {
    bool accepted = !version.empty() && acceptVersion(version, min, max, true);
    std::u16string refusal = locatedRuntimeRefusal(location, version, accepted);
    showErrorW(refusal.c_str());
  } else if (showErrors) {
    showConfigError(entry::kNoJvmBitsText, launcherBits());
  }
  return FoundRuntime();
}

// The first runtime the configured search accepts.
FoundRuntime searchedRuntime(bool showErrors) {
  FoundRuntime found;
  found.kind = findJavaRuntime(found.exePath, found.description);
  if (found.kind != RuntimeSourceKind::None) return found;
  logError("No JVM found");
  if (std::optional<std::string> home = otherProcessorRuntime()) {
    logInfo("A 64-bit Java runtime is installed at %s: this 32-bit installer cannot use it, the x64 installer is needed",
            home->c_str());
  }
  if (showErrors) showConfigError(entry::kNoJvmBitsText, launcherBits());
  return found;
}

}  // namespace

bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable, LaunchState& state) {
  logInfo("LoadDLL (%d, %s, %d)", showErrors ? 1 : 0, location ? location : "(null)",
          locationIsJavaExecutable ? 1 : 0);
  FoundRuntime found = location ? givenRuntime(showErrors, location, locationIsJavaExecutable) : searchedRuntime(showErrors);
  if (found.kind == RuntimeSourceKind::None) return false;
  return loadRuntimeLibrary(found.exePath, found.kind, found.description, showErrors, state);
}

void loadCarriedRuntime(LaunchState& state) {
  std::string home = state.extractionFolder + "\\jre";
  logInfo("JRE dir: %s", home.c_str());
  if (LoadDLL(false, home.c_str(), false, state)) return;
  logError("Could not load bundled JRE. Trying to find another JRE.");
  if (LoadDLL(false, nullptr, false, state)) return;
  logError("Could not find another JRE.");
  fatalError("Could not use bundled JRE. Please send this log file to your software vendor:");
}
