// Runtime trees made of the Java runtime double, the launcher's log and registry keys, for the
// runtime tests.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "temp_dir.h"

// A runtime home laid out from the double's files (bin\java.exe, bin\javaw.exe,
// bin\<vmType>\jvm.dll; a kit adds lib\tools.jar and puts the runtime under jre\).
struct RuntimeLayout {
  bool jdk = false;
  bool javaw = true;
  bool jvm = true;
  std::string vmType = "client";
  std::map<std::string, std::string> script;
};

class TestRuntime {
 public:
  TestRuntime(const std::string& home, const RuntimeLayout& layout = RuntimeLayout());
  const std::string& home() const { return home_; }
  // The executable the search settles on: a kit's embedded jre\bin\java.exe.
  std::string javaExe() const;
  std::string binDir() const;
  // Runs of java.exe or javaw.exe recorded by the double.
  int runs() const;
  void writeScript(const std::map<std::string, std::string>& changes);
  // Moves java.exe's last-write time, as an in-place update would.
  void touchJavaExe(int secondsLater) const;

 private:
  std::string home_;
  bool jdk_;
  std::map<std::string, std::string> script_;
};

// The double's built file (java.exe, javaw.exe, jvm.dll).
std::string doubleFile(const char* name);
void copyFileOrFail(const std::string& from, const std::string& to);
void makeDirectories(const std::string& path);

// The log lines written from construction on; the log file is deleted at the end.
class LogWatch {
 public:
  LogWatch();
  ~LogWatch();
  std::string text() const;
  // Whether the lines appear in this order (each a substring of a later line than the last).
  bool inOrder(const std::vector<std::string>& lines) const;

 private:
  std::string marker_;
};

// Deletes registry trees now and again at the end.
class RegistryTrees {
 public:
  RegistryTrees(std::vector<std::pair<HKEY, std::string>> trees);
  ~RegistryTrees();
  void clean() const;

 private:
  std::vector<std::pair<HKEY, std::string>> trees_;
};

void setRegistryString(HKEY root, const std::string& key, const char* value, const std::string& data);
bool registryKeyExists(HKEY root, const std::string& key);

// Sets (or with null removes) an environment variable for the test's lifetime.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();

 private:
  std::string name_;
  std::string old_;
  bool hadOld_;
};

// Sets configuration entries for the test's lifetime (absent afterwards).
class ScopedConfig {
 public:
  ScopedConfig(std::map<int, std::string> entries);
  ~ScopedConfig();

 private:
  std::map<int, std::string> entries_;
};

// What every runtime test starts from: the log watched from the start, a directory of its own
// that is also TMP (so the log and the probe's output files land there), and no runtime named by
// the two fallback variables.
class RuntimeTest : public ::testing::Test {
 protected:
  // First: the log file is placed on first use, and must not land in the test's own directory.
  LogWatch log;
  TempDir dir;
  ScopedEnvironment tmp{"TMP", dir.path().c_str()};
  ScopedEnvironment nimbo{"NIMBO_JAVA_HOME", nullptr};
  ScopedEnvironment tessar{"TESSAR_JAVA_HOME", nullptr};
};
