// Expands the launcher's variables (its directory, its temporary directory, the runtime's home,
// the environment) in configured values and option lines.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// Replaces the launcher's variables and the process environment's ${NAME} forms in text.
// The result is cut to the launcher's 8192-byte text buffer (logged as an error).
void expandVariables(std::string& text);

// The values that the fixed tokens stand for.
struct ExpansionValues {
  std::string executableDirectory;  // ends with the directory separator
  std::string tempDirectory;
  std::string jvmHome;
  std::string systemTempDirectory;
};

// Replaces every occurrence of token, logging each; inserted text is not searched again.
// Returns false when the text had to be cut to fit the text buffer.
bool replaceAll(std::string& text, std::string_view token, std::string_view value);

// expandVariables given the values and the environment block ("NAME=VALUE" entries in block
// order). Returns false when the text, or an environment entry, had to be cut.
bool expandVariablesWith(std::string& text, const ExpansionValues& values, const std::vector<std::string>& environment);

// The runtime home for a java.exe or javaw.exe path: its directory followed by "..".
std::string javaHomeForExecutable(std::string_view javaExecutablePath);
