#include "runtime_fixture.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/log.h"
#include "child_process.h"
#include "config/launcher_config.h"
#include "temp_dir.h"

std::string doubleFile(const char* name) { return testBinDir() + "java_runtime\\" + name; }

void makeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
    CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

void copyFileOrFail(const std::string& from, const std::string& to) {
  makeDirectories(to.substr(0, to.rfind('\\')));
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to << ": " << GetLastError();
}

TestRuntime::TestRuntime(const std::string& home, const RuntimeLayout& layout)
    : home_(home), jdk_(layout.jdk), script_(layout.script) {
  std::string runtimeHome = jdk_ ? home_ + "\\jre" : home_;
  if (jdk_) {
    copyFileOrFail(doubleFile("java.exe"), home_ + "\\bin\\java.exe");
    if (layout.javaw) copyFileOrFail(doubleFile("javaw.exe"), home_ + "\\bin\\javaw.exe");
    makeDirectories(home_ + "\\lib");
    writeWholeFile(home_ + "\\lib\\tools.jar", "PK");
  }
  copyFileOrFail(doubleFile("java.exe"), runtimeHome + "\\bin\\java.exe");
  if (layout.javaw) copyFileOrFail(doubleFile("javaw.exe"), runtimeHome + "\\bin\\javaw.exe");
  if (layout.jvm) copyFileOrFail(doubleFile("jvm.dll"), runtimeHome + "\\bin\\" + layout.vmType + "\\jvm.dll");
  writeScript({});
}

std::string TestRuntime::javaExe() const { return home_ + (jdk_ ? "\\jre\\bin\\java.exe" : "\\bin\\java.exe"); }

std::string TestRuntime::binDir() const { return home_ + (jdk_ ? "\\jre\\bin" : "\\bin"); }

int TestRuntime::runs() const {
  std::string text = readWholeFile(home_ + "\\java_runs.txt");
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

void TestRuntime::writeScript(const std::map<std::string, std::string>& changes) {
  for (const auto& [key, value] : changes) script_[key] = value;
  std::string text = "runs=" + home_ + "\\java_runs.txt\r\ntrace=" + home_ + "\\jvm_trace.json\r\n";
  for (const auto& [key, value] : script_) text += key + "=" + value + "\r\n";
  writeWholeFile(home_ + "\\runtime_double.cfg", text);
}

void TestRuntime::touchJavaExe(int secondsLater) const {
  HANDLE file = CreateFileA(javaExe().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME written;
  GetFileTime(file, nullptr, nullptr, &written);
  ULARGE_INTEGER value{{written.dwLowDateTime, written.dwHighDateTime}};
  value.QuadPart += static_cast<ULONGLONG>(secondsLater) * 10000000ull;
  written.dwLowDateTime = value.LowPart;
  written.dwHighDateTime = value.HighPart;
  SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
}

LogWatch::LogWatch() {
  static int serial = 0;
  marker_ = "---- log watch " + std::to_string(GetCurrentProcessId()) + "/" + std::to_string(++serial);
  logInfo("%s", marker_.c_str());
}

LogWatch::~LogWatch() {
  std::string path = keepLog();
  if (!path.empty()) DeleteFileA(path.c_str());
}

std::string LogWatch::text() const {
  std::string all = readWholeFile(keepLog());
  std::size_t at = all.rfind(marker_);
  return at == std::string::npos ? std::string() : all.substr(at);
}

bool LogWatch::inOrder(const std::vector<std::string>& lines) const {
  std::string log = text();
  std::size_t position = 0;
  for (const std::string& line : lines) {
    std::size_t found = log.find(line, position);
    if (found == std::string::npos) {
      ADD_FAILURE() << "missing in order: " << line << "\n" << log;
      return false;
    }
    position = found + line.size();
  }
  return true;
}

RegistryTrees::RegistryTrees(std::vector<std::pair<HKEY, std::string>> trees) : trees_(std::move(trees)) { clean(); }

RegistryTrees::~RegistryTrees() { clean(); }

void RegistryTrees::clean() const {
  for (const auto& [root, key] : trees_) {
    RegDeleteTreeA(root, key.c_str());
    RegDeleteKeyA(root, key.c_str());
  }
}

void setRegistryString(HKEY root, const std::string& key, const char* value, const std::string& data) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
  if (value) {
    RegSetValueExA(h, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
  }
  RegCloseKey(h);
}

bool registryKeyExists(HKEY root, const std::string& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  char buffer[32768];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  hadOld_ = n > 0 && n < sizeof buffer;
  if (hadOld_) old_.assign(buffer, n);
  SetEnvironmentVariableA(name, value);
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), hadOld_ ? old_.c_str() : nullptr); }

ScopedConfig::ScopedConfig(std::map<int, std::string> entries) : entries_(std::move(entries)) {
  for (const auto& [id, value] : entries_) g_config.narrow[id] = value;
}

ScopedConfig::~ScopedConfig() {
  for (const auto& entry : entries_) g_config.narrow.erase(entry.first);
}
