#include "config/configured_messages.h"
#include "vm/vm_platform.h"
#include "vm/vm_platform_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/dll_search.h"
#include "base/errors.h"
#include "base/launch_flags.h"
#include "base/paths.h"
#include "base/text_limits.h"
#include "base/win_text.h"
#include "media/extraction.h"
#include "process/single_instance.h"

namespace {
// Written once by the launch sequence's thread before anything reads it.
const LaunchState* g_launch = nullptr;
const LaunchState kNoLaunch;

const LaunchState& launch() { return g_launch ? *g_launch : kNoLaunch; }
}  // namespace

void bindLaunchState(const LaunchState& state) { g_launch = &state; }

std::string vmExecutablePath() { return executablePath(); }

std::string vmLongPathName(const std::string& path) { return longPathOrSame(path); }

std::string vmResolveAgainstExeDir(std::string_view path, const char* baseFile) {
  return resolveAgainstExeDir(path, baseFile);
}

std::string vmMakeAbsolutePath(std::string_view path) { return makeAbsolutePath(path, true); }

std::string vmResolvePathList(std::string_view list) { return resolvePathList(list); }

bool vmPathExists(const std::string& path) { return pathExists(path.c_str()); }

std::vector<std::string> vmListDirectory(const std::string& directory, const char* extension) {
  std::vector<std::string> names;
  listDirectory(directory.c_str(), extension, names);
  return names;
}

std::string vmTempDir() { return launch().extractionFolder; }

std::string vmRuntimeHome() { return launch().runtimeHome; }

CreateJavaVmFunction vmCreateJavaVmFunction() {
  return reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void*>(launch().createJavaVm));
}

std::string vmSystemTempPath() { return chooseTempPath(); }

int64_t vmUnextractedPosition() { return launch().unextractedPosition; }

bool vmLanguageRestart() { return g_flags.languageRestart; }

bool vmManualRuntimeSelection() { return g_flags.manualRuntimeSelection; }

std::string vmSingleInstanceName() { return g_singleInstanceName; }

std::string vmProcessCommFileName() { return makeProcessCommFileName(GetCurrentProcessId()); }

unsigned vmConsoleOutputCodePage() { return GetConsoleOutputCP(); }

bool vmGetEnvironment(const char* name, std::string& value) {
  std::vector<char> buffer(kTextBufferSize);
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0) {
    value.clear();
    return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  }
  if (n >= buffer.size()) {
    // The value does not fit: read it whole, the caller cuts it where its buffer ends.
    buffer.resize(n);
    n = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n >= buffer.size()) n = 0;
  }
  value.assign(buffer.data(), n);
  return true;
}

std::vector<std::string> vmEnvironmentBlock() {
  std::vector<std::string> entries;
  char* block = GetEnvironmentStringsA();
  if (block == nullptr) return entries;
  for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) entries.emplace_back(entry);
  FreeEnvironmentStringsA(block);
  return entries;
}

bool vmSetPath(const std::string& value, unsigned long& error) {
  error = 0;
  if (!SetEnvironmentVariableA("PATH", value.c_str())) {
    error = GetLastError();
    return false;
  }
  std::string assignment = "PATH=" + value;
  _putenv(assignment.c_str());
  return true;
}

void vmAddDllSearchDirectories(const std::string& list) {
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(kPathListSeparator, start);
    if (end == std::string::npos) end = list.size();
    // Kept for the life of the process, like PATH.
    if (end > start) addDllSearchDirectory(list.substr(start, end - start));
    start = end + 1;
  }
}

std::u16string vmAnsiToUtf16(std::string_view text) {
  std::wstring wide = ansiToWide(text, CP_ACP);
  return std::u16string(asUtf16(wide));
}

std::string vmUtf16ToAnsi(std::u16string_view text) { return wideToAnsi(asWide(text), CP_ACP); }

std::string vmUtf16ToFileSystem(std::u16string_view text) { return wideToAnsi(asWide(text), fileApiCodePage()); }

std::u16string vmFileSystemToUtf16(std::string_view text) {
  std::wstring wide = ansiToWide(text, fileApiCodePage());
  return std::u16string(asUtf16(wide));
}

void vmFatalConfigError(int32_t entryId, const char* argument) { fatalConfigError(entryId, argument); }
