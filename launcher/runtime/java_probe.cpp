#include "runtime/java_probe.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/handles.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text_limits.h"
#include "config/launcher_config.h"
#include "launch_end.h"
#include "media/extraction.h"
#include "process/child_processes.h"
#include "runtime/registry_read.h"
#include "runtime/search_rules.h"
#include "runtime/version_rules.h"
#include "runtime/vm_library.h"

bool g_useVersionCache = true;

namespace {

constexpr DWORD kProbeTimeLimitMs = 60000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;

// A console child that just ended may hold its output file for a moment (sharing violation).
void deleteProbeOutput(const std::string& path) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (DeleteFileA(path.c_str())) return;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
    Sleep(20);
  }
  logError("Could not delete %s (error %lu)", path.c_str(), GetLastError());
}

// The first lines of the output, each read with one more character than the launcher takes, so
// that a longer line is seen as such (and its rest is not taken for a line of its own).
std::vector<std::string> readFirstLines(const std::string& path) {
  std::vector<std::string> lines;
  CFile file(std::fopen(path.c_str(), "r"));
  if (!file) return lines;
  char line[kVersionLineLimit + 2] = "";
  while (lines.size() < kVersionLineCount && std::fgets(line, sizeof line, file.get())) {
    lines.emplace_back(line);
    if (lines.back().size() > kVersionLineLimit) break;
  }
  return lines;
}

// The short form where the volume has one; a volume without 8.3 names answers with the long path.
std::string probeProgram(const std::string& exePath) {
  std::vector<char> shortPath(kTextBufferSize);
  DWORD n = g_getShortPathName(exePath.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
  return n > 0 && n < shortPath.size() ? std::string(shortPath.data(), n) : exePath;
}

}  // namespace

ShortPathNameFunction g_getShortPathName = GetShortPathNameA;

DWORD probeTimeLimitMs() { return childWaitLimitMs("PATHMERE_PROBE_LIMIT_MS", kProbeTimeLimitMs); }

HANDLE createInheritableFile(const std::string& path) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return INVALID_HANDLE_VALUE;
  HANDLE inheritable = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), file.h, GetCurrentProcess(), &inheritable, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return INVALID_HANDLE_VALUE;
  }
  return inheritable;
}

bool readCachedVersion(const std::string& exePath, const FILETIME& lastWriteTime, std::string& version) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, versionCacheKey(exePath).c_str(), 0, KEY_READ, &key.h) != ERROR_SUCCESS) {
    key.h = nullptr;
    return false;
  }
  BYTE stored[sizeof(FILETIME)];
  DWORD size = sizeof stored;
  if (RegQueryValueExA(key.h, "LastWriteTime", nullptr, nullptr, stored, &size) != ERROR_SUCCESS) return false;
  // FILETIME is laid out low half first, as the value stores it.
  if (size != sizeof stored || std::memcmp(stored, &lastWriteTime, sizeof stored) != 0) return false;
  std::vector<char> text(kTextBufferSize);
  if (!queryRegistryString(key.h, "Version", text.data(), static_cast<DWORD>(text.size()))) return false;
  version = text.data();
  return true;
}

void storeCachedVersion(const std::string& exePath, const FILETIME& lastWriteTime, const std::string& version) {
  RegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, versionCacheKey(exePath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key.h, nullptr) != ERROR_SUCCESS) {
    key.h = nullptr;
    return;
  }
  RegSetValueExA(key.h, "LastWriteTime", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&lastWriteTime),
                 sizeof lastWriteTime);
  RegSetValueExA(key.h, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>(version.size()));
}

bool runJavaVersion(const std::string& exePath, const FILETIME& lastWriteTime, std::string& version) {
  // Quoted and named as the application as well: unquoted, a path with a space would start
  // "C:\Program.exe", or hand java.exe the rest of its own path as a class name.
  std::string program = probeProgram(exePath);
  std::string command = "\"" + program + "\" -version";
  std::string outputPath = makeTempFileName();
  FileHandle output(createInheritableFile(outputPath));

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdError = output.h;
  PROCESS_INFORMATION process{};
  std::vector<char> commandBuffer(command.begin(), command.end());
  commandBuffer.push_back('\0');
  if (!output.valid() || !CreateProcessA(program.c_str(), commandBuffer.data(), nullptr, nullptr, TRUE,
                                         NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                                         &process)) {
    logInfo("Could not create process %s > %s (error %lu)", command.c_str(), outputPath.c_str(), GetLastError());
    output.close();
    deleteProbeOutput(outputPath);
    return false;
  }
  KernelHandle processHandle(process.hProcess);
  KernelHandle threadHandle(process.hThread);
  // Runs only once tracked: a Cancel in between would otherwise leave it behind the launcher.
  trackChildProcess(processHandle.h);
  ResumeThread(threadHandle.h);
  WaitForSingleObject(processHandle.h, probeTimeLimitMs());
  untrackChildProcess(processHandle.h);
  // Ended by Cancel: its exit code is no answer to cache, and its output file goes before the
  // launcher does.
  if (childProcessesCancelled()) {
    output.close();
    deleteProbeOutput(outputPath);
    stopIfCancelled();
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(processHandle.h, &exitCode);
  logInfo("Exit Code %d", static_cast<int>(exitCode));
  if (exitCode == STILL_ACTIVE) {
    logInfo("Terminating process");
    TerminateProcess(processHandle.h, 1);
    // Until it has gone it still holds the output file.
    WaitForSingleObject(processHandle.h, 5000);
  } else if (exitCode != 0) {
    storeCachedVersion(exePath, lastWriteTime, kDummyVersion);
  }
  output.close();

  bool found = false;
  if (exitCode == 0) {
    std::optional<std::string> parsed = parseVersionOutput(readFirstLines(outputPath));
    if (parsed) {
      version = *parsed;
      logInfo("Java version: %s", version.c_str());
      found = true;
    }
  }
  deleteProbeOutput(outputPath);
  return found;
}

VersionScheme configuredVersionScheme() { return versionSchemeOf(config::versionScheme()); }

std::optional<std::string> readReleaseVersion(const std::string& exePath) {
  for (const std::string& path : releaseFileCandidates(exePath)) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) continue;
    // One byte more than the limit tells a file that is too large from one that just fits.
    std::string content(kReleaseFileLimit + 1, '\0');
    DWORD read = 0;
    if (!ReadFile(file.h, content.data(), static_cast<DWORD>(content.size()), &read, nullptr)) read = 0;
    content.resize(read);
    std::optional<std::string> version =
        read <= kReleaseFileLimit ? parseReleaseVersion(content) : std::optional<std::string>();
    if (version) return version;
    logInfo("%s gives no version", path.c_str());
    return std::nullopt;
  }
  return std::nullopt;
}

std::string refusalReason(const std::string& version, const std::string& min, const std::string& max,
                          bool allowPreRelease) {
  if (version.empty()) return "no usable java.exe or no version";
  bool refusePreRelease = !allowPreRelease && config::allowBetaJre() == 0;
  VersionVerdict verdict = judgeVersion(version, min, max, refusePreRelease, configuredVersionScheme());
  if (verdict != VersionVerdict::Accepted) return describeVerdict(verdict, version, min, max);
  return "javaw.exe is missing";
}

bool acceptVersion(const std::string& version, const std::string& min, const std::string& max,
                   bool allowPreRelease) {
  bool refusePreRelease = !allowPreRelease && config::allowBetaJre() == 0;
  VersionVerdict verdict = judgeVersion(version, min, max, refusePreRelease, configuredVersionScheme());
  if (verdict == VersionVerdict::PreRelease) logInfo("beta vm not allowed");
  return verdict == VersionVerdict::Accepted;
}

bool checkJavaExe(std::string& exePath, std::string& version, const std::string& min, const std::string& max,
                  bool allowPreRelease) {
  logInfo("checkJavaExe (%s, [out], %s, %s, %d)", exePath.c_str(), min.c_str(), max.c_str(), allowPreRelease ? 1 : 0);
  exePath = makeAbsolutePath(exePath, false);
  bool result = false;
  FILETIME lastWrite{};
  bool exists = fileLastWriteTime(exePath.c_str(), &lastWrite);
  // Numbered the new way, a runtime's release file names its version: nothing is started, and a
  // runtime image without java.exe (what a packaged application carries) still counts, since
  // what the launcher needs of it is its VM library.
  std::optional<std::string> released =
      configuredVersionScheme() == VersionScheme::Numeric ? readReleaseVersion(exePath) : std::nullopt;
  bool image = !exists && released && hasVmLibraryFor(exePath);
  if (!exists && !image) {
    logInfo("file doesn't exist");
  } else {
    logInfo(exists ? "file exists" : "runtime image without java.exe");
    version.clear();
    // Checked before the probe: such a runtime may answer "-version" well and still never load.
    if (!runtimeMatchesBuild(exePath)) {
      result = false;
    } else if (released) {
      version = *released;
      logInfo("got version from release file %s", version.c_str());
      result = acceptVersion(version, min, max, allowPreRelease);
    } else if (g_useVersionCache && readCachedVersion(exePath, lastWrite, version)) {
      logInfo("got version from registry %s", version.c_str());
      result = acceptVersion(version, min, max, allowPreRelease);
    } else if (runJavaVersion(exePath, lastWrite, version)) {
      logInfo("got version from execution %s", version.c_str());
      storeCachedVersion(exePath, lastWrite, version);
      result = acceptVersion(version, min, max, allowPreRelease);
    } else {
      logInfo("couldn't get version");
    }
    if (result && config::executableType() == 1) {
      std::optional<std::string> windowed = windowedExecutable(exePath);
      result = windowed && pathExists(windowed->c_str());
      if (windowed) exePath = *windowed;
    }
  }
  logInfo("checkJavaExe returning %d", result ? 1 : 0);
  return result;
}

bool testJavaExe(std::string& exePath, const std::string& min, const std::string& max, bool allowPreRelease,
                 bool useCache, std::string* versionFound) {
  g_useVersionCache = useCache;
  std::string version;
  bool result = checkJavaExe(exePath, version, min, max, allowPreRelease);
  g_useVersionCache = true;
  if (versionFound) *versionFound = version;
  return result;
}
