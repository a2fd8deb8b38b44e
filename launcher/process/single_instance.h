// One launcher process per executable path: the first owns a named semaphore for its lifetime.
#pragma once
#include <windows.h>

#include <string>

#include "base/launch_flags.h"

// Returns when this process is the first instance; otherwise brings the first instance's
// windows to the front and ends this process with exit code 0.
void ensureSingleInstance();

// The process id recorded by the first instance under the executable's path (0 when missing).
void recordInstancePid(const std::string& exeKey);
DWORD readInstancePid(const std::string& exeKey);
