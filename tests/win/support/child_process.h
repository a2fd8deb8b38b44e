// Runs a Windows program from a test and collects its exit code and output.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct ChildResult {
  DWORD exitCode = 0;
  bool timedOut = false;
  std::string out;  // standard output, as written
  std::string err;  // standard error, as written
};

// Starts program with the arguments (quoted as needed), the environment of this process with
// the given variables set (an empty value removes one), waits at most timeoutMs.
ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}, DWORD timeoutMs = 60000);

// Directory of the running test program, with a trailing backslash.
std::string testBinDir();
