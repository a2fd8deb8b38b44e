#include "host_platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/log.h"
#include "config/launcher_config.h"
#include "vm/vm_platform.h"

extern char** environ;

HostPlatform g_hostPlatform;
std::vector<std::string> g_logLines;

namespace {

void addLine(const char* prefix, const char* format, va_list args) {
  char buffer[65536];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  g_logLines.push_back(std::string(prefix) + buffer);
  if (g_hostPlatform.logToStderr) std::fprintf(stderr, "%s%s\n", prefix, buffer);
}

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void logInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  addLine("", format, args);
  va_end(args);
}

void logError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  addLine("ERROR: ", format, args);
  va_end(args);
}

std::string vmExecutablePath() { return g_hostPlatform.executablePath; }

std::string vmLongPathName(const std::string& path) { return path; }

std::string vmResolveAgainstExeDir(std::string_view path, const char* baseFile) {
  if (!path.empty() && path[0] == '/') return std::string(path);
  return directoryOf(baseFile ? baseFile : g_hostPlatform.executablePath) + std::string(path);
}

std::string vmMakeAbsolutePath(std::string_view path) {
  return std::filesystem::path(vmResolveAgainstExeDir(path, nullptr)).lexically_normal().string();
}

std::string vmResolvePathList(std::string_view list) {
  std::string result;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string_view::npos) end = list.size();
    if (end == start) break;
    if (!result.empty()) result += ':';
    result += vmResolveAgainstExeDir(list.substr(start, end - start), nullptr);
    start = end + 1;
  }
  return result;
}

bool vmPathExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::vector<std::string> vmListDirectory(const std::string& directory, const char* extension) {
  std::vector<std::string> names;
  std::error_code error;
  std::string suffix = std::string(".") + extension;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    std::string name = entry.path().filename().string();
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name);
    }
  }
  // Linux enumerates in no stable order; the tests want one.
  std::sort(names.begin(), names.end());
  return names;
}

std::string vmTempDir() { return g_hostPlatform.tempDir; }
std::string vmSystemTempPath() { return g_hostPlatform.systemTempPath; }
int64_t vmUnextractedPosition() { return g_hostPlatform.unextractedPosition; }
std::string vmRuntimeHome() { return g_hostPlatform.runtimeHome; }
CreateJavaVmFunction vmCreateJavaVmFunction() { return g_hostPlatform.createJavaVm; }
bool vmLanguageRestart() { return g_hostPlatform.languageRestart; }
bool vmManualRuntimeSelection() { return g_hostPlatform.manualRuntimeSelection; }
std::string vmSingleInstanceName() { return g_hostPlatform.singleInstanceName; }
std::string vmProcessCommFileName() { return g_hostPlatform.processCommFile; }
unsigned vmConsoleOutputCodePage() { return g_hostPlatform.consoleOutputCodePage; }

bool vmGetEnvironment(const char* name, std::string& value) {
  const char* found = std::getenv(name);
  value = found ? found : "";
  return found != nullptr;
}

std::vector<std::string> vmEnvironmentBlock() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

bool vmSetPath(const std::string& value, unsigned long& error) {
  error = 0;
  return setenv("PATH", value.c_str(), 1) == 0;
}

void vmAddDllSearchDirectories(const std::string& list) { g_hostPlatform.dllSearchLists.push_back(list); }

std::u16string vmAnsiToUtf16(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t code = c;
    std::size_t length = 1;
    if (c >= 0xf0 && i + 3 < text.size()) {
      code = ((c & 0x07u) << 18) | ((text[i + 1] & 0x3fu) << 12) | ((text[i + 2] & 0x3fu) << 6) | (text[i + 3] & 0x3fu);
      length = 4;
    } else if (c >= 0xe0 && i + 2 < text.size()) {
      code = ((c & 0x0fu) << 12) | ((text[i + 1] & 0x3fu) << 6) | (text[i + 2] & 0x3fu);
      length = 3;
    } else if (c >= 0xc0 && i + 1 < text.size()) {
      code = ((c & 0x1fu) << 6) | (text[i + 1] & 0x3fu);
      length = 2;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xd800 + (code >> 10));
      out += static_cast<char16_t>(0xdc00 + (code & 0x3ff));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
  return out;
}

std::string vmUtf16ToAnsi(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xd800 && code < 0xdc00 && i + 1 < text.size()) {
      code = 0x10000 + ((code - 0xd800) << 10) + (text[++i] - 0xdc00);
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xc0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xe0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    }
  }
  return out;
}

std::string vmUtf16ToFileSystem(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::u16string vmFileSystemToUtf16(std::string_view text) { return std::u16string(text.begin(), text.end()); }

void vmFatalConfigError(int32_t entryId, const char* argument) {
  std::string text = getConfigString(entryId);
  std::size_t at = text.find("{0}");
  if (at != std::string::npos) text.replace(at, 3, argument ? argument : "");
  std::fprintf(stderr, "FATAL %d: %s\n", entryId, text.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}
