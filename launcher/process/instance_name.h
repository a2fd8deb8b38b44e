// Names that identify one launcher installation among running processes.
#pragma once
#include <string>
#include <string_view>

// The single-instance semaphore name for an absolute, lower-cased executable path: backslashes
// become underscores, and "Global\" is put in front when the name must be seen across sessions.
std::string singleInstanceNameFor(std::string_view lowerCaseExePath, bool globalNamespace);
