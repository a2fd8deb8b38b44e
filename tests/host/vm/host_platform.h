// The VM launch's platform on Linux, for the host tests and the real-JVM launch: the launcher's
// own state comes from g_hostPlatform, the environment is the process's, paths use "/" and ":",
// the ANSI code page is UTF-8 and the file-system code page is ASCII ("?" for anything else).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "vm/vm_platform.h"

struct HostPlatform {
  std::string executablePath = "/opt/pathmere/setup.exe";
  std::string tempDir;
  std::string systemTempPath = "/tmp/";
  int64_t unextractedPosition = 0;
  std::string runtimeHome;
  CreateJavaVmFunction createJavaVm = nullptr;
  bool languageRestart = false;
  bool manualRuntimeSelection = false;
  std::string singleInstanceName;
  std::string processCommFile = "/tmp/nbo_p42.tmp";
  unsigned consoleOutputCodePage = 437;
  bool logToStderr = false;
  // What vmAddDllSearchDirectories was given, each call's list in turn.
  std::vector<std::string> dllSearchLists;
};
extern HostPlatform g_hostPlatform;

// Every logInfo and logError line since the last clear ("ERROR: " prefixed for errors).
extern std::vector<std::string> g_logLines;
