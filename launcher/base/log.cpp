#include "base/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "base/error_text.h"
#include "base/launch_flags.h"
#include "base/paths.h"

namespace {

// Fallback when no unique name can be created in TMP.
constexpr char kFallbackLogPath[] = "c:\\tsr_nlog";

// One lock for every writer: the file is opened, written and closed under it.
std::mutex g_logMutex;

struct LogState {
  std::string logPath;       // fixed at first use
  bool initialised = false;  // first-use set-up done
  bool keep = false;         // the exit handler leaves the file
  bool ended = false;        // the process is ending: no more lines
};
LogState g_log;

bool envKeepsLog(const char* name) {
  char value[8192];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value && isKeepLogValue(value);
}

// A new file name "tsr_nlog_<n>" in the directory named by TMP, or in "c:\" when TMP names
// none (the C runtime's _tempnam rule; Wine's own _tempnam keeps only three prefix characters).
// The name is claimed by creating the file, so two launchers never share one.
std::string uniqueLogName() {
  char tmp[8192];
  DWORD n = GetEnvironmentVariableA("TMP", tmp, sizeof tmp);
  std::string dir = "c:\\";
  if (n > 0 && n < sizeof tmp) {
    DWORD attributes = GetFileAttributesA(tmp);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) dir = tmp;
  }
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  unsigned start = GetTickCount() ^ (GetCurrentProcessId() << 12);
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    std::string name = dir + "tsr_nlog_" + std::to_string((start + attempt) % 0x7FFFFFFF);
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return name;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return std::string();
}

// Opens the log for one line, setting it up on first use. Caller holds g_logMutex.
FILE* openLog() {
  if (g_log.ended) return nullptr;
  FILE* file = nullptr;
  if (!g_log.logPath.empty()) file = std::fopen(g_log.logPath.c_str(), "a");
  if (g_log.initialised) return file;
  g_log.initialised = true;
  g_log.keep = g_log.keep || g_flags.keepLogDefault;
  if (envKeepsLog("NIMBO_LOG") || envKeepsLog("TESSAR_LOG")) g_log.keep = true;
  // The launcher ends through exitNormally; programs that end through the C runtime (the test
  // programs) delete the log here.
  if (!g_log.keep) std::atexit(deleteLogAtExit);

  g_log.logPath = uniqueLogName();
  if (!g_log.logPath.empty()) file = std::fopen(g_log.logPath.c_str(), "w");
  if (!file) {
    g_log.logPath = kFallbackLogPath;
    file = std::fopen(g_log.logPath.c_str(), "w");
    if (!file) return nullptr;
  }
  std::time_t now = std::time(nullptr);
  const char* when = std::ctime(&now);
  std::fprintf(file, "Started executable %s at %s\n", executablePath().c_str(), when ? when : "\n");
  std::fflush(file);
  return file;
}

std::string formatText(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int n = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (n <= 0) return std::string();
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void writeLine(const char* prefix, const char* format, va_list args) {
  std::string line = prefix;
  line += formatText(format, args);
  line += '\n';
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (FILE* file = openLog()) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
}

}  // namespace

void logInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeLine("", format, args);
  va_end(args);
}

void logError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeLine("ERROR: ", format, args);
  va_end(args);
}

std::string keepLog() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_log.keep = true;
  return g_log.logPath;
}

void deleteLogAtExit() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_log.ended = true;
  if (!g_log.keep && !g_log.logPath.empty()) DeleteFileA(g_log.logPath.c_str());
}
